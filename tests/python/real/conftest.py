import sys
from pathlib import Path

# The real-model tests share one helper module that sits next to them; with pytest's
# importlib import mode it is found through the path, not as a package.
sys.path.insert(0, str(Path(__file__).resolve().parent))
