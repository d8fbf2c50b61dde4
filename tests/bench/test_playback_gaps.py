# SPDX-License-Identifier: GPL-3.0-or-later
"""The checker of bench/playback-gaps.sh finds each kind of fault where it
is, and nothing in a recording that holds the clip whole."""
import importlib.util
import os
import sys
import tempfile
import unittest

spec = importlib.util.spec_from_file_location("playback_gaps", sys.argv.pop(1))
gaps = importlib.util.module_from_spec(spec)
spec.loader.exec_module(gaps)


class Checker(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "clip.wav")
            gaps.make_clip(3, path)
            cls.clip = gaps.read_clip(path)

    def check(self, recording):
        return gaps.check(self.clip, recording)

    def test_the_clip_is_noise_far_from_silence(self):
        self.assertEqual(len(self.clip), 3 * 22050)
        self.assertTrue(all(abs(v) >= 500 for v in self.clip))

    def test_a_whole_clip_between_silences_has_no_fault(self):
        events, summary = self.check([0] * 700 + self.clip + [0] * 300)
        self.assertEqual(events, [])
        self.assertEqual(set(summary.values()), {0})

    def test_silence_pushing_the_rest_later_is_inserted_where_it_came(self):
        c = self.clip
        events, summary = self.check([0] * 100 + c[:39680] + [0] * 256 + c[39680:])
        self.assertEqual(summary["gaps"], 1)
        self.assertEqual(summary["inserted"], 256)
        self.assertEqual(summary["skipped"], 0)
        self.assertIn("clip sample 39680 ", events[0])

    def test_silence_in_place_of_a_stretch_is_a_skip(self):
        c = self.clip
        events, summary = self.check(c[:11776] + [0] * 256 + c[12032:])
        self.assertEqual((summary["gaps"], summary["skipped"], summary["wrong"]), (1, 256, 256))
        self.assertIn("clip sample 11776 ", events[0])

    def test_a_stretch_played_twice_is_a_repeat(self):
        c = self.clip
        events, summary = self.check(c[:5000] + c[4744:])
        self.assertEqual((summary["gaps"], summary["inserted"]), (1, 256))
        self.assertIn("256 samples repeated", events[0])

    def test_a_stretch_from_elsewhere_is_named(self):
        c = self.clip
        # More than a second away: not taken for where the clip goes on.
        events, summary = self.check(c[:20000] + c[60000:60256] + c[20256:])
        self.assertEqual(summary["skipped"], 256)
        self.assertIn("clip samples 60000..", events[0])

    def test_a_recording_that_stops_early_misses_the_end(self):
        events, summary = self.check(self.clip[:60000])
        self.assertEqual(summary["missing_end"], len(self.clip) - 60000)
        self.assertEqual(summary["gaps"], 0)

    def test_a_recording_of_something_else_is_no_clip(self):
        events, summary = self.check([0] * 100 + [1234] * 5000)
        self.assertGreater(summary["gaps"] + summary["missing_end"], 0)


if __name__ == "__main__":
    unittest.main()
