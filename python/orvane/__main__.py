"""`python -m orvane`: the same command line as the `orvane` script."""

from orvane.cli import main

raise SystemExit(main())
