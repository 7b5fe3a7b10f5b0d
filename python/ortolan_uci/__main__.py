import sys

from ortolan_uci import main

sys.exit(main(sys.argv[1:]))
