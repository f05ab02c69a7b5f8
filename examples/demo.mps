* A small production plan, to show what mopsel reads and writes:
* integer columns (MARKER block), ranged rows (RANGES), bounds of several
* kinds (BOUNDS) and an objective constant (RHS entry on the objective row).
NAME          DEMO
OBJSENSE
    MAX
ROWS
 N  profit
 L  machine
 L  labour
 G  demand_a
 E  balance
 L  mix
COLUMNS
    MARKER    'MARKER'  'INTORG'
    batch_a   profit    12.0     machine   3.0
    batch_a   labour    2.0      demand_a  1.0
    batch_b   profit    9.0      machine   2.0
    batch_b   labour    4.0      mix       1.0
    MARKER    'MARKER'  'INTEND'
    overtime  profit    -4.0     labour    -1.0
    stock     balance   1.0      mix       -0.5
    sold      profit    1.5      balance   -1.0
    open      profit    -20.0    machine   -10.0
RHS
    RHS       profit    -50.0    machine   40.0
    RHS       labour    36.0     demand_a  2.0
    RHS       mix       3.0
RANGES
    RNG       machine   10.0     demand_a  5.0
    RNG       balance   4.0
BOUNDS
 UP BND       batch_a   8
 UP BND       batch_b   6
 UP BND       overtime  10
 LO BND       stock     -5
 UP BND       stock     25
 MI BND       sold
 BV BND       open
ENDATA
