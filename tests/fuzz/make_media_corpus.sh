#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the media fuzzer's seed corpus (tests/fuzz/media-corpus): a few
# tenths of a second of generated tone in each kind of file the media
# plugin reads (made with the ffmpeg command), an AMR-NB file written by
# hand (Debian's ffmpeg has no AMR encoder), and hostile files: a concat
# script and a playlist that name other files, a WAVE file (left to
# libsndfile, never to the plugin) and an M4A file cut short in its header
# and in its samples. Each file is a few KB at most. Run it again after
# adding a kind; the output is the same to the byte on the same ffmpeg.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)/media-corpus"
mkdir -p "$here"
cd "$here"
rm -f -- *

# Tones at the rates each codec takes; -bitexact keeps the encoder's
# version out of the files.
tone() { # rate seconds [channels]
  local layout=mono
  [ "${3:-1}" = 2 ] && layout=stereo
  echo "-f lavfi -i sine=frequency=440:sample_rate=$1:duration=$2,aformat=channel_layouts=$layout"
}
encode() { # output input... -- codec options...
  ffmpeg -hide_banner -loglevel error -nostdin -y "${@:2}" -fflags +bitexact -flags +bitexact -map_metadata -1 "$1"
}

# shellcheck disable=SC2046  # tone's words are separate arguments
{
  encode aac.m4a $(tone 22050 0.3) -c:a aac -b:a 24k
  encode aac-stereo-faststart.m4a $(tone 44100 0.2 2) -c:a aac -b:a 32k -movflags +faststart
  encode opus.ogg $(tone 48000 0.3) -c:a libopus -b:a 12k
  encode opus-stereo.webm $(tone 48000 0.3 2) -c:a libopus -b:a 16k
  encode flac.ogg $(tone 8000 0.3) -c:a flac
  encode flac-24bit.ogg $(tone 8000 0.1 2) -c:a flac -sample_fmt s32 -bits_per_raw_sample 24
  encode mp3.mp3 $(tone 22050 0.3) -c:a libmp3lame -b:a 32k
  encode realaudio.rm $(tone 8000 0.5) -c:a real_144
  # A camera's or phone's video: the soundtrack is read, the picture skipped.
  encode video-aac.mp4 -f lavfi -i testsrc=size=16x16:rate=5:duration=0.4 $(tone 22050 0.4) \
    -c:v mpeg4 -q:v 31 -c:a aac -b:a 16k -shortest
  # Raw samples in Matroska: the copy's u8, float and double paths.
  encode pcm-u8.mka $(tone 8000 0.2) -c:a pcm_u8
  encode pcm-f32.mka $(tone 8000 0.04 2) -c:a pcm_f32le
  encode pcm-f64.mka $(tone 8000 0.04) -c:a pcm_f64le
  # libsndfile's kind: the plugin's list of demuxers leaves it out.
  encode refused-wave.wav $(tone 8000 0.05) -c:a pcm_s16le
}

# AMR-NB: the magic, then 25 frames of 20 ms, each a header byte (frame
# type << 3, quality bit 0x04) and that type's payload: 12.2 kbit/s speech
# frames of pseudo-random bits, one SID frame and two "no data" frames.
amr_bytes() {
  local s=12345 i n byte
  printf '#!AMR\n'
  for ((i = 0; i < 25; i++)); do
    if ((i == 10)); then
      printf '\x44' # SID (type 8), 5 bytes of comfort noise
      n=5
    elif ((i == 11 || i == 12)); then
      printf '\x7c' # no data (type 15)
      n=0
    else
      printf '\x3c' # 12.2 kbit/s (type 7), 31 bytes
      n=31
    fi
    for ((; n > 0; n--)); do
      s=$(((s * 1103515245 + 12345) & 0x7FFFFFFF))
      byte=$(((s >> 16) & 0xFF))
      printf '%b' "\\x$(printf '%02x' "$byte")"
    done
  done
}
amr_bytes >amr-nb.amr

# Files that name others: the plugin opens nothing beside the descriptor.
printf 'ffconcat version 1.0\nfile aac.m4a\nfile /etc/passwd\n' >hostile-concat.ffconcat
printf '#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n#EXTINF:0.3,\naac.m4a\n#EXTINF:0.3,\nfile:///etc/passwd\n#EXT-X-ENDLIST\n' \
  >hostile-playlist.m3u8

# Double samples patched into the raw tone before it is put in Matroska:
# values that are no numbers (NaN at frame 100, +inf at 150, -inf at 200),
# and two neighbours at the largest double (frames 150 and 151) whose sum
# overflows. The plugin hands on none of them as they are.
patch_double() { # file frame bytes
  printf '%b' "$3" | dd of="$1" bs=8 seek="$2" conv=notrunc status=none
}
raw_tone() { # file
  ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.04 \
    -f f64le "$1"
}
raw_tone not-numbers.f64
patch_double not-numbers.f64 100 '\x00\x00\x00\x00\x00\x00\xf8\x7f'
patch_double not-numbers.f64 150 '\x00\x00\x00\x00\x00\x00\xf0\x7f'
patch_double not-numbers.f64 200 '\x00\x00\x00\x00\x00\x00\xf0\xff'
raw_tone largest.f64
patch_double largest.f64 150 '\xff\xff\xff\xff\xff\xff\xef\x7f'
patch_double largest.f64 151 '\xff\xff\xff\xff\xff\xff\xef\x7f'
for raw in not-numbers largest; do
  encode "pcm-f64-$raw.mka" -f f64le -ar 8000 -ac 1 -i "$raw.f64" -c:a copy
  rm "$raw.f64"
done

# An M4A file with its header first, cut inside the header and inside the
# samples the header describes.
size=$(stat -c %s aac-stereo-faststart.m4a)
head -c 600 aac-stereo-faststart.m4a >hostile-m4a-cut-in-header.m4a
head -c $((size - 400)) aac-stereo-faststart.m4a >hostile-m4a-cut-in-samples.m4a

seeds=(*)
echo "${#seeds[@]} seeds, $(cat -- "${seeds[@]}" | wc -c) bytes in $here"
