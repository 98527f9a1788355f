#!/usr/bin/env bash
# Makes the seed corpus of the AVI reader and frame decoder fuzz targets:
#   - a few tiny AVI files written by ffmpeg (classic idx1, audio and video,
#     non-key frames, two audio streams, no idx1, cut short, and video of
#     several codecs for the frame decoder),
#   - the hand-made files of make_seed_inputs (OpenDML indexes, AVIX
#     segments, record lists, other idx1 bases, run-length video), when its
#     path is given,
#   - the shared sample files under 300 KB, copied at run time.
# ffmpeg writes OpenDML indexes only once a file passes its first 1 GiB
# segment; below that it leaves JUNK where they would go, hence the generator.
#
# Usage: fuzz/make_seeds.sh [OUTPUT_DIR [MAKE_SEED_INPUTS]]
#   OUTPUT_DIR        default build-fuzz/seeds
#   MAKE_SEED_INPUTS  default build-fuzz/fuzz/make_seed_inputs (skipped if missing)
# VX_CORPUS_DIR names the shared samples (default ../shared/corpus/avi).
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-build-fuzz/seeds}
generator=${2:-build-fuzz/fuzz/make_seed_inputs}
corpus=${VX_CORPUS_DIR:-../shared/corpus/avi}
mkdir -p "$out"

if command -v ffmpeg >/dev/null; then
  ff() { ffmpeg -hide_banner -nostdin -loglevel error -y "$@"; }
  exact=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact)
  video=(-f lavfi -i testsrc=size=16x16:rate=10:duration=0.6)
  audio=(-f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.6)
  audio16k=(-f lavfi -i sine=frequency=660:sample_rate=16000:duration=0.6)

  # Video only, uncompressed, every frame a key frame.
  ff "${video[@]}" -c:v rawvideo -pix_fmt bgr24 "${exact[@]}" "$out/ff_raw_video.avi"
  # Audio and video with key and delta frames.
  ff "${video[@]}" "${audio[@]}" -c:v mpeg4 -g 4 -q:v 20 -c:a pcm_s16le -ac 1 \
    "${exact[@]}" "$out/ff_mpeg4_pcm.avi"
  # Audio with a block size above one sample frame.
  ff "${video[@]}" "${audio[@]}" -c:v mjpeg -q:v 25 -pix_fmt yuvj420p -c:a adpcm_ima_wav \
    -ac 2 "${exact[@]}" "$out/ff_mjpeg_adpcm.avi"
  # Two audio streams, one of them compressed with a variable chunk size.
  ff "${video[@]}" "${audio[@]}" "${audio16k[@]}" -map 0:v -map 1:a -map 2:a -c:v mpeg4 \
    -q:v 20 -c:a:0 pcm_u8 -c:a:1 mp2 -b:a:1 32k "${exact[@]}" "$out/ff_two_audio.avi"
  # Written to a pipe: no idx1, and the RIFF and movi sizes left unset.
  ff "${video[@]}" "${audio[@]}" -c:v mpeg4 -q:v 20 -c:a pcm_u8 "${exact[@]}" -f avi pipe:1 \
    >"$out/ff_no_idx1_pipe.avi"
  # Video of the codecs the frame decoder's target reaches through the
  # libavcodec driver: B-frames, vector quantisers, a palettised raw stream.
  ff "${video[@]}" -c:v mpeg4 -bf 2 -g 6 -q:v 20 "${exact[@]}" "$out/ff_mpeg4_bframes.avi"
  ff "${video[@]}" -c:v msvideo1 "${exact[@]}" "$out/ff_msvideo1.avi"
  ff "${video[@]}" -c:v cinepak "${exact[@]}" "$out/ff_cinepak.avi"
  ff "${video[@]}" -c:v rawvideo -pix_fmt pal8 "${exact[@]}" "$out/ff_pal8.avi"
  # Cut inside idx1, and inside the movie list.
  size=$(stat -c %s "$out/ff_mpeg4_pcm.avi")
  head -c $((size - 100)) "$out/ff_mpeg4_pcm.avi" >"$out/ff_cut_in_idx1.avi"
  head -c $((size * 2 / 3)) "$out/ff_mpeg4_pcm.avi" >"$out/ff_cut_in_movi.avi"
else
  echo "make_seeds.sh: ffmpeg not found; no ffmpeg seeds" >&2
fi

if [ -x "$generator" ]; then
  "$generator" "$out"
else
  echo "make_seeds.sh: $generator not built; no hand-made seeds" >&2
fi

if [ -d "$corpus" ]; then
  find "$corpus" -maxdepth 1 -type f -name '*.avi' -size -300k -exec cp -f {} "$out/" \;
else
  echo "make_seeds.sh: $corpus not found; no shared samples" >&2
fi

echo "make_seeds.sh: $(find "$out" -type f | wc -l) seeds in $out"
