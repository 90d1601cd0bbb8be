#!/bin/sh
# Generates the completion chime, resources/PlumoraComplete.wav: two soft bell
# tones a fifth apart (E6 then B6, overlapping), about 0.4 s, 44.1 kHz 16-bit
# mono. Each tone is a sine with a quieter octave partial, a fast attack and a
# long fade, so it sounds like a small bell rather than a beep.
#
#   tools/make-chime.sh [output.wav]
set -eu

command -v sox >/dev/null 2>&1 || {
  echo "make-chime: sox is required (apt-get install sox)" >&2
  exit 1
}

out=${1:-"$(dirname "$0")/../resources/PlumoraComplete.wav"}
mkdir -p "$(dirname "$out")"
work=$(mktemp -d "${TMPDIR:-/tmp}/glimmet-chime.XXXXXX")
trap 'rm -rf "$work"' EXIT

# tone <file> <frequency> <octave> <length> <fade>: the bell-like note, which
# rises in 5 ms and fades to silence over <fade> seconds.
tone() {
  sox -n -r 44100 -b 16 -c 2 "$1" synth "$4" sine "$2" sine "$3" \
    remix 1v0.8,2v0.2 fade q 0.005 "$4" "$5" gain -n -6
}

tone "$work/low.wav" 1318.51 2637.02 0.22 0.21
tone "$work/high.wav" 1975.53 3951.07 0.28 0.27
# The high note starts 0.12 s after the low one; the sum stays below full scale.
sox "$work/high.wav" "$work/high-late.wav" pad 0.12 0
sox -m -v 0.7 "$work/low.wav" -v 0.6 "$work/high-late.wav" -b 16 "$work/mix.wav"
sox "$work/mix.wav" -r 44100 -b 16 -c 1 -e signed-integer "$out" fade t 0 0.4 0.08 gain -n -3
echo "make-chime: wrote $out"
