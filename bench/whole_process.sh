#!/bin/sh
# Whole processes against the cost of their work, as a user runs them: each pair is timed
# by hyperfine, the two commands one after the other, five times over; the figure is the
# median of the five ratios (warm page cache).
#   whole_process.sh BUILD DATA   (DATA is made by palkor_bench_data when missing)
set -eu
build=$(cd "$1" && pwd)
data=$2
cli=$build/palkor-cli
[ -f "$data/paint.png" ] || "$build/bench/palkor_bench_data" "$data"
data=$(cd "$data" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Inputs of the floors: the text battle --frames prints, the frames render writes.
"$cli" battle "$data/big/battle.lgp" zz --frames > "$work/frames.txt"
mkdir -p "$work/bmp" "$work/png" "$work/again" "$work/floor" "$work/extract" "$work/dd" "$work/ddbmp" \
  "$work/texall" "$work/texfloor"
# tex-import replaces a texture of its own copy of the demo archive, again and again.
cp "$data/render.lgp" "$work/import.lgp"
"$cli" render "$data/render.lgp" knig.hrc kn30.a --out "$work/bmp/"
members=$(tr '\n' ' ' < "$data/largest.txt")

# The median of five ratios of hyperfine's mean times: first command over second.
pair() {
  title=$1 target=$2 measured=$3 floor=$4
  ratios=""
  for round in 1 2 3 4 5; do
    hyperfine --style none --runs 3 --warmup 1 --export-json "$work/run.json" \
      "$measured" "$floor" > /dev/null 2> "$work/err" || { cat "$work/err" >&2; exit 1; }
    ratios="$ratios $(python3 -c 'import json, sys
r = json.load(open(sys.argv[1]))["results"]
print("%.3f" % (r[0]["mean"] / r[1]["mean"]))' "$work/run.json")"
  done
  echo "$ratios" | python3 -c 'import statistics, sys
title, target = sys.argv[1], sys.argv[2]
r = sorted(float(v) for v in sys.stdin.read().split())
print("%-52s %5.2fx  (%.2f-%.2f)  target %s" % (title, statistics.median(r), r[0], r[-1], target))' \
    "$title" "$target"
}

echo "Whole process, median of five ratios (min-max):"
pair "catalogue of a 56 MB archive / cat of it" "<= 1.0x" \
  "$cli catalogue $data/catalogue.lgp" "cat $data/catalogue.lgp"
pair "catalogue, 56 MB laid out as the game's / cat of it" "<= 1.0x" \
  "$cli catalogue $data/char.lgp" "cat $data/char.lgp"
pair "50 x extract of the largest members / 50 x dd fsync" "<= 1.5x" \
  "for m in $members; do $cli extract $data/catalogue.lgp \$m $work/extract/\$m; done" \
  "for m in $members; do dd if=$data/members/\$m of=$work/dd/\$m conv=fsync status=none; done"
pair "battle of a tiny model / palkor-cli --version" "<= 2x" \
  "$cli battle $data/tiny/battle.lgp rt" "$cli --version"
pair "battle --frames (3 MB member) / cat of its text" "<= 6x" \
  "$cli battle $data/big/battle.lgp zz --frames" "cat $work/frames.txt"
pair "render --png, 30 frames 640x480 / libpng alone" "<= 1.2x" \
  "$cli render $data/render.lgp knig.hrc kn30.a --png --out $work/png/" \
  "$build/bench/png_floor $work/floor $work/bmp/*.bmp"
pair "render BMP, 30 frames / dd fsync of the same files" "<= 1.5x" \
  "$cli render $data/render.lgp knig.hrc kn30.a --out $work/again/" \
  "for f in $work/bmp/*.bmp; do dd if=\$f of=$work/ddbmp/\$(basename \$f) conv=fsync status=none; done"
# Thumbnails of the 1,200 models of the synthetic field archive the export benchmark
# writes, drawn on one thread and on two, against building them and libpng alone.
[ -f "$data/models/char.lgp" ] || "$build/bench/palkor_bench_export" --write-archive "$data/models" > /dev/null
mkdir -p "$work/thumbs1" "$work/thumbs2" "$work/thumbfloor"
pair "thumbnails of 1,200 models / building them + libpng" "<= 1.5x" \
  "$cli thumbnails $data/models/char.lgp $work/thumbs1 --jobs 1" \
  "$build/bench/thumb_floor $data/models/char.lgp $work/thumbfloor"
pair "thumbnails --jobs 2 / --jobs 1" "<= 0.59x (1.7x faster)" \
  "$cli thumbnails $data/models/char.lgp $work/thumbs2 --jobs 2" \
  "$cli thumbnails $data/models/char.lgp $work/thumbs1 --jobs 1"
pair "tex-import of a 256x256 RGBA PNG / libpng + libimagequant" "<= 2x" \
  "$cli tex-import $work/import.lgp KNAC.TEX $data/paint.png" \
  "$build/bench/quantise_floor $data/paint.png"
pair "tex --all, the 56 MB archive's 3,600 textures / libpng" "<= 1.5x" \
  "$cli tex $data/catalogue.lgp --all $work/texall" \
  "$build/bench/tex_png_floor $data/catalogue.lgp $work/texfloor"
# import-model of the demo knight and golem, each exported and put back into its own copy
# of the demo archives, again and again, against reading the file with tinygltf and
# writing as many bytes as the archive holds.
"$build/palkor-demo" "$work/demo" > /dev/null
"$cli" export "$work/demo/char.lgp" KNIG.HRC "$work/knig.glb"
"$cli" export "$work/demo/battle.lgp" rt "$work/rt.glb"
# Once first, so that the archives have the size every later run writes.
"$cli" import-model "$work/demo/char.lgp" KNIG.HRC "$work/knig.glb" > /dev/null
"$cli" import-model "$work/demo/battle.lgp" rt "$work/rt.glb" > /dev/null
pair "import-model of the knight / tinygltf + fsync of its bytes" "<= 3x" \
  "$cli import-model $work/demo/char.lgp KNIG.HRC $work/knig.glb" \
  "$build/bench/import_floor $work/knig.glb $work/floor.bin $(stat -c %s "$work/demo/char.lgp")"
pair "import-model of the golem / tinygltf + fsync of its bytes" "<= 3x" \
  "$cli import-model $work/demo/battle.lgp rt $work/rt.glb" \
  "$build/bench/import_floor $work/rt.glb $work/floor.bin $(stat -c %s "$work/demo/battle.lgp")"
# Archive editing on a copy of the 56 MB archive made whole by one compact (lookup and
# conflict tables true), against the cost of reading or copying its bytes.
cp "$data/char.lgp" "$work/edited.lgp"
"$cli" compact "$work/edited.lgp" > /dev/null
pair "check of a 56 MB archive / cat of it" "<= 1.0x" \
  "$cli check $work/edited.lgp" "cat $work/edited.lgp"
pair "compact of a 56 MB archive / crash-safe copy of it" "<= 1.3x" \
  "$cli compact $work/edited.lgp" \
  "$build/bench/safe_copy_floor $work/edited.lgp $work/copied.lgp"
# add --replace puts the same member back each time, so the archive keeps its size.
head -c 4096 "$data/char.lgp" > "$work/ADDED.TEX"
"$cli" add "$work/edited.lgp" "$work/ADDED.TEX" > /dev/null
pair "add of one member to a 56 MB archive / crash-safe copy" "<= 1.3x" \
  "$cli add $work/edited.lgp $work/ADDED.TEX --replace" \
  "$build/bench/safe_copy_floor $work/edited.lgp $work/copied.lgp"
# extract of the largest member of the compacted 56 MB catalogue archive, found through
# its lookup table, against a crash-safe copy of the same bytes.
cp "$data/catalogue.lgp" "$work/looked.lgp"
"$cli" compact "$work/looked.lgp" > /dev/null
largest=$(head -1 "$data/largest.txt")
set -- $("$cli" members --verify "$work/looked.lgp" |
  awk -v m="$largest" 'toupper($5) == toupper(m) { print $2 + 24, $3 }')
pair "extract of one member / crash-safe copy of its bytes" "<= 1.2x" \
  "$cli extract $work/looked.lgp $largest $work/one.bin" \
  "$build/bench/safe_copy_floor $work/looked.lgp $work/one.floor $1 $2"
# unpack of the 16,000 members of the compacted archive into a folder it has filled once,
# against cp -r of the same files over a copy of them and one sync.
"$cli" unpack "$work/looked.lgp" "$work/unpacked"
cp -r "$work/unpacked" "$work/copiedfolder"
pair "unpack of a 56 MB archive / cp -r of its files + sync" "<= 1.5x" \
  "$cli unpack $work/looked.lgp $work/unpacked" \
  "cp -rT $work/unpacked $work/copiedfolder && sync"
peak=$(/usr/bin/time -f %M "$cli" battle "$data/tiny/battle.lgp" rt 2>&1 > /dev/null | tail -1)
echo "battle peak memory: $((peak / 1024)) MiB  target <= 24 MiB"
