#!/usr/bin/env python3
"""Runs unittest modules, verbosely, as one CTest test.

CTest learns of a skip only from the exit status: when a test was skipped and none failed, the run
exits with SKIPPED_STATUS, the test's SKIP_RETURN_CODE, so it counts as skipped rather than passed.
The modules are found in the working directory, as with `python3 -m unittest`.

    run_unittest.py MODULE [MODULE ...]
"""

import os
import sys
import unittest

# The status by which every test program and script here says "skipped" (Automake's convention).
SKIPPED_STATUS = 77


def main(modules):
    sys.path.insert(0, os.getcwd())
    suite = unittest.defaultTestLoader.loadTestsFromNames(modules)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        return 1
    return SKIPPED_STATUS if result.skipped else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
