import sys

from ortolan_match import main

sys.exit(main(sys.argv[1:]))
