#!/usr/bin/env python3
"""How coverage.py reads a source: which lines hold code, where a mark stands
and what it excuses, which lines are a catch handler's. A slip here would
hide a branch (a line taken for a comment) or move a mark onto another line."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import coverage  # noqa: E402


class SourceReading(unittest.TestCase):
    def test_rows(self):
        # source, lines holding code, lines holding more than punctuation,
        # marks as (line written, line excused, kind, reason), catch handler lines
        rows = [
            ('f("http://a"); // branch-untaken: after a string with //', {1}, {1},
             [(1, 1, "untaken", "after a string with //")], set()),
            ("c = '\"' ? a : b;  // branch-untaken: a quote in quotes", {1}, {1},
             [(1, 1, "untaken", "a quote in quotes")], set()),
            ("x = 1'000'000 + u'\\''; // branch-untaken(cpu): digits apart", {1}, {1},
             [(1, 1, "cpu", "digits apart")], set()),
            ('s = R"x(/* // )x";\ny();  // branch-untaken: past a raw string', {1, 2}, {1, 2},
             [(2, 2, "untaken", "past a raw string")], set()),
            ('/* a\n b */ if (x) {\n', {2}, {2}, [], set()),
            ("// branch-untaken: one reason\n\n// that goes on\n  if (a) {\n  }\n});", {4, 5, 6},
             {4}, [(1, 4, "untaken", "one reason that goes on")], set()),
            ("if (p == NULL) /* branch-untaken(race): C's form */ return;", {1}, {1},
             [(1, 1, "race", "C's form")], set()),
            ("try {\n  f();\n} catch (const E& e) {\n  if (e.n) g();\n}\nh();", {1, 2, 3, 4, 5, 6},
             {1, 2, 3, 4, 6}, [], {3, 4, 5}),
            ('q = "catch (x) {";\n', {1}, {1}, [], set()),
        ]
        for text, code, real, marks, handlers in rows:
            with self.subTest(text=text):
                source = coverage.scan_source(text)
                n = text.count("\n") + 1
                self.assertEqual({i for i in range(1, n + 1) if source.code[i]}, code)
                self.assertEqual({i for i in range(1, n + 1) if source.real[i]}, real)
                problems = []
                found = coverage.find_marks("f.cpp", source, problems)
                self.assertEqual([(m.line, m.target, m.kind, m.reason) for m in found], marks)
                self.assertEqual(problems, [])
                self.assertEqual(source.handlers, handlers)

    def test_a_mark_without_its_reason_is_refused(self):
        for text in ("x(); // branch-untaken", "x(); // branch-untaken:", "// branch-untaken(gpu): y"):
            with self.subTest(text=text):
                problems = []
                self.assertEqual(coverage.find_marks("f.cpp", coverage.scan_source(text), problems),
                                 [])
                self.assertEqual(len(problems), 1)


if __name__ == "__main__":
    unittest.main()
