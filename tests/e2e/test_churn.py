"""The tree changes under the program's feet while it scans, searches and deletes: a short run
of the churn (churn.py; bench/churn.sh runs it for longer)."""

import os
import sys
import unittest

import churn
from harness import WINDOWS


# Under Wine, deleting a Unix link deletes its target: the Windows build is never shown one.
@unittest.skipIf(WINDOWS, "makes symbolic links and FIFOs")
@unittest.skipUnless(sys.platform.startswith("linux"), "makes symbolic links and FIFOs")
class ChurnTest(unittest.TestCase):
    def test_a_changing_tree_loses_no_content_and_nothing_unchosen(self):
        seconds = float(os.environ.get("KOPIENSIEB_CHURN_SECONDS", "3"))
        figures = churn.run(seconds, seed=int(os.environ.get("KOPIENSIEB_CHURN_SEED", "1")))
        print(figures, file=sys.stderr)
        self.assertGreater(figures["churn_operations"], 0, "the tree did change")
        self.assertGreater(figures["files_checked"], 0, "something was up for deletion")


if __name__ == "__main__":
    unittest.main()
