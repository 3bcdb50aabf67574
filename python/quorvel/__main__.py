"""``python -m quorvel``: the ``quorvel`` command."""

from .cli import main

raise SystemExit(main())
