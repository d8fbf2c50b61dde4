// SPDX-License-Identifier: GPL-3.0-or-later
// Editing the voice document: each edit on a known clip against indexes and
// samples worked out by hand, Undo giving the voice back byte for byte and
// Redo the edited one, and what the history keeps.
#include "effects/edits.h"
#include "engine/voicedocument.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

std::vector<int16_t> Voice(const TVoiceDocument &document)
{
    return std::vector<int16_t>(document.VoiceData.get(), document.VoiceData.get() + document.VoiceSamples());
}

void Take(TVoiceDocument &document, const std::vector<int16_t> &samples)
{
    auto buffer = std::make_unique<int16_t[]>(samples.size());
    std::memcpy(buffer.get(), samples.data(), samples.size() * 2);
    ASSERT_TRUE(document.TakeVoice(std::move(buffer), static_cast<int32_t>(samples.size() * 2)));
}

// 0, 1, 2, ... : every sample says where it came from.
std::vector<int16_t> Ramp(int n)
{
    std::vector<int16_t> v(n);
    for (int i = 0; i < n; ++i)
        v[i] = static_cast<int16_t>(i);
    return v;
}

// silence, a tone of the given peak, silence (speech is samples [lead, lead + n)).
std::vector<int16_t> Padded(int lead, int n, int trail, int peak)
{
    std::vector<int16_t> v(lead + n + trail, 0);
    for (int i = 0; i < n; ++i)
        v[lead + i] = static_cast<int16_t>(std::lround(peak * std::sin(i * 0.3)));
    v[lead] = static_cast<int16_t>(peak);          // the first loud sample
    v[lead + n - 1] = static_cast<int16_t>(-peak); // the last
    return v;
}

struct EditCase {
    const char *Name;
    std::vector<int16_t> Before;
    TSampleSpan Selection;
    TVoiceDocument::TEdit Edit;
    std::vector<int16_t> After; // what the voice must be
    TSampleSpan SelectionAfter;
};

std::vector<int16_t> Concat(std::vector<int16_t> a, const std::vector<int16_t> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<int16_t> Slice(const std::vector<int16_t> &v, int from, int to)
{
    return std::vector<int16_t>(v.begin() + from, v.begin() + to);
}

std::vector<EditCase> Cases()
{
    using E = TVoiceDocument::TEdit;
    const std::vector<int16_t> ramp = Ramp(100);
    const std::vector<int16_t> padded = Padded(5000, 3000, 4000, 9000);
    // Speech 5000..7999: 1102 samples kept each side.
    const std::vector<int16_t> trimmed = Slice(padded, 5000 - 1102, 8000 + 1102);
    // Speech closer to the ends than the margin: clipped to the voice.
    const std::vector<int16_t> tight = Padded(300, 2000, 500, 184);
    // 183 is silence: only the 184s at 300 and 2299 and what lies between count.
    std::vector<int16_t> quiet = Padded(3000, 10, 3000, 183);
    quiet[4000] = -184;
    // Normalise: peak 1000 -> 29204; 1 -> 29.204 -> 29; 500 -> 14602;
    // -3 -> -87.612 -> -88; 123 -> 3592.092 -> 3592.
    const std::vector<int16_t> soft = {0, 1, 500, -3, 1000, 123};
    const std::vector<int16_t> softNormalised = {0, 29, 14602, -88, 29204, 3592};
    // Halves go to even: peak 2 makes 1 -> 14602 exactly; peak 8 makes
    // 1 -> 3650.5 -> 3650 and 3 -> 10951.5 -> 10952.
    const std::vector<int16_t> halves = {1, 3, -8, 5};
    const std::vector<int16_t> halvesNormalised = {3650, 10952, -29204, 18252}; // 5 -> 18252.5 -> 18252
    // -32768 counts as 32768.
    const std::vector<int16_t> full = {-32768, 32767, 16384, 0};
    const std::vector<int16_t> fullNormalised = {-29204, 29203, 14602, 0}; // 29203.108..., 14602
    return {
        {"cut the middle", ramp, {10, 20}, E::Cut, Concat(Slice(ramp, 0, 10), Slice(ramp, 20, 100)), {}},
        {"cut the start", ramp, {0, 1}, E::Cut, Slice(ramp, 1, 100), {}},
        {"cut the end", ramp, {60, 100}, E::Cut, Slice(ramp, 0, 60), {}},
        {"crop", ramp, {37, 64}, E::Crop, Slice(ramp, 37, 64), {}},
        {"crop one sample", ramp, {99, 100}, E::Crop, {99}, {}},
        {"trim the whole voice", padded, {}, E::TrimSilence, trimmed, {}},
        {"trim clipped to the voice", tight, {}, E::TrimSilence, tight, {}},
        {"trim: 183 is silence", quiet, {}, E::TrimSilence, Slice(quiet, 4000 - 1102, 4001 + 1102), {}},
        {"trim a selection",
         padded,
         {2000, 11000},
         E::TrimSilence,
         Concat(Concat(Slice(padded, 0, 2000), Slice(padded, 5000 - 1102, 8000 + 1102)), Slice(padded, 11000, 12000)),
         {2000, 2000 + 1102 + 3000 + 1102}},
        {"trim a selection clipped to it", padded, {4000, 9000}, E::TrimSilence, padded, {4000, 9000}},
        {"normalise", soft, {}, E::Normalise, softNormalised, {}},
        {"normalise: halves to even", halves, {}, E::Normalise, halvesNormalised, {}},
        {"normalise -32768", full, {}, E::Normalise, fullNormalised, {}},
        {"normalise a selection", soft, {1, 3}, E::Normalise, {0, 58, 29204, -3, 1000, 123}, {1, 3}},
    };
}

TEST(Edits, EachEditExactThenUndoAndRedo)
{
    for (const EditCase &c : Cases()) {
        SCOPED_TRACE(c.Name);
        TVoiceDocument document;
        Take(document, c.Before);
        document.Selection = c.Selection;
        ASSERT_EQ(document.Edit(c.Edit), TVoiceDocument::TEditResult::Done);
        EXPECT_EQ(Voice(document), c.After);
        EXPECT_EQ(document.Selection, c.SelectionAfter);
        const bool changed = c.After != c.Before;
        EXPECT_EQ(document.VoiceEdited(), changed);
        ASSERT_EQ(document.CanUndo(), changed);
        if (!changed)
            continue;
        ASSERT_TRUE(document.Undo());
        EXPECT_EQ(Voice(document), c.Before);
        EXPECT_EQ(document.Selection, c.Selection);
        EXPECT_FALSE(document.VoiceEdited()) << "back to the voice as opened";
        ASSERT_TRUE(document.Redo());
        EXPECT_EQ(Voice(document), c.After);
        EXPECT_TRUE(document.VoiceEdited());
    }
}

TEST(Edits, TrimMarginFollowsTheRate)
{
    EXPECT_EQ(TrimMargin(22050), 1102); // 1102.5, half to even
    EXPECT_EQ(TrimMargin(11025), 551);  // 551.25
    EXPECT_EQ(TrimMargin(44100), 2205);
    EXPECT_EQ(TrimMargin(48000), 2400);
}

TEST(Edits, SilenceAndImpossibleEditsChangeNothing)
{
    using E = TVoiceDocument::TEdit;
    TVoiceDocument document;
    Take(document, std::vector<int16_t>(5000, 183));
    EXPECT_EQ(document.Edit(E::TrimSilence), TVoiceDocument::TEditResult::Silent);
    Take(document, std::vector<int16_t>(5000, 0));
    EXPECT_EQ(document.Edit(E::Normalise), TVoiceDocument::TEditResult::Silent);
    EXPECT_FALSE(document.CanEdit(E::Cut)) << "no selection";
    document.Selection = {0, 5000};
    EXPECT_FALSE(document.CanEdit(E::Cut)) << "cutting everything leaves no voice";
    EXPECT_FALSE(document.CanEdit(E::Crop));
    EXPECT_FALSE(document.CanUndo());
    EXPECT_FALSE(document.VoiceEdited());
    EXPECT_EQ(Voice(document), std::vector<int16_t>(5000, 0));
    TVoiceDocument empty;
    EXPECT_FALSE(empty.CanEdit(E::TrimSilence));
    EXPECT_FALSE(empty.CanEdit(E::Normalise));
}

TEST(Edits, HistoryOfEditsAndEffectsWithTheSavedState)
{
    TVoiceDocument document;
    Take(document, Ramp(1000));
    document.Selection = {0, 100};
    document.Edit(TVoiceDocument::TEdit::Cut); // 100..999
    document.WillChange(TVoiceDocument::TChange::Effects);
    document.Effects.Echo = true;
    for (int position : {5, 4, 3}) { // one drag of the pitch bar: one step
        document.WillChange(TVoiceDocument::TChange::Pitch);
        document.Effects.PitchPosition = position;
    }
    EXPECT_TRUE(document.EffectsChanged());

    ASSERT_TRUE(document.Undo()); // the whole drag
    EXPECT_EQ(document.Effects.PitchPosition, 6);
    EXPECT_TRUE(document.Effects.Echo);
    ASSERT_TRUE(document.Undo());
    EXPECT_FALSE(document.Effects.Echo);
    EXPECT_FALSE(document.EffectsChanged());
    EXPECT_EQ(Voice(document).front(), 100);
    ASSERT_TRUE(document.Undo());
    EXPECT_EQ(Voice(document), Ramp(1000));
    EXPECT_EQ(document.Selection, (TSampleSpan{0, 100}));
    EXPECT_FALSE(document.Undo());

    // A change after an undo drops what could have been redone.
    document.WillChange(TVoiceDocument::TChange::Effects);
    document.Effects.Robotvoice = true;
    EXPECT_FALSE(document.CanRedo());

    // Undoing to where the voice was saved makes it saved again.
    document.Effects.Robotvoice = false;
    document.Selection = {0, 500};
    ASSERT_EQ(document.Edit(TVoiceDocument::TEdit::Crop), TVoiceDocument::TEditResult::Done);
    EXPECT_TRUE(document.VoiceEdited());
    document.Selection = {0, 250};
    document.Edit(TVoiceDocument::TEdit::Crop);
    ASSERT_TRUE(document.Undo());
    EXPECT_EQ(Voice(document), Ramp(500));
}

TEST(Edits, TheHistoryKeepsAtMostEightCopiesOfTheVoice)
{
    // Cropping to a short voice still undoes: the limit is eight copies of
    // the largest voice in the history, not of the short one.
    {
        TVoiceDocument document;
        Take(document, Ramp(20000));
        document.Selection = {5, 6};
        document.Edit(TVoiceDocument::TEdit::Crop);
        ASSERT_TRUE(document.Undo());
        EXPECT_EQ(Voice(document), Ramp(20000));
    }
    TVoiceDocument document;
    Take(document, Padded(100, 10000, 100, 1000));
    // Each Normalise after the first changes nothing audible, but each is a
    // version of its own: twelve of them need more than eight copies.
    for (int i = 0; i < 12; ++i) {
        document.Selection = {};
        document.WillChange(TVoiceDocument::TChange::Effects);
        document.Effects.Echo = !document.Effects.Echo;
        ASSERT_EQ(document.Edit(TVoiceDocument::TEdit::Normalise), TVoiceDocument::TEditResult::Done);
        EXPECT_LE(document.HistoryBytes(), 8 * int64_t{document.VoiceBytes});
    }
    EXPECT_EQ(document.HistoryBytes(), 8 * int64_t{document.VoiceBytes});
    int undone = 0;
    while (document.Undo())
        ++undone;
    // Eight voices back, each with the effect change made on it.
    EXPECT_EQ(undone, 8 * 2);
    EXPECT_LE(document.HistoryBytes(), 8 * int64_t{document.VoiceBytes});
}

} // namespace
