#!/usr/bin/env bash
# Whole-process benchmark of the command-line tool on a generated 6000 x 4000
# photo-like PNG and JPEG, side by side with vips and ImageMagick's convert
# when they are installed: for each job, the median wall time of RUNS runs,
# the peak resident memory (/usr/bin/time -f %M) and the output's size.
#
#   scripts/bench-tool.sh [RUNS]            (default 3)
#
#   TALVINE=path         the tool to time (default build/release/hosts/cli/talvine)
#   TALVINE_BEFORE=path  another build of it, timed in the same run as "before"
#   BENCH_DIR=dir        where the pictures and outputs go (default build/bench-tool)
#   JOBS="mirror ..."    a subset of: mirror tilt half double jpeg-mirror jpeg-rotate
#                        jpeg-tilt jpeg-crop jpeg-half jpeg-straighten
#                        jpeg-distortion jpeg-perspective jpeg-upright (the jpeg-
#                        jobs read the photo as a quality-90 JPEG and write JPEG at
#                        90; a tool with no such job is left out of its rows)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
talvine=${TALVINE:-build/release/hosts/cli/talvine}
dir=${BENCH_DIR:-build/bench-tool}
jobs=${JOBS:-mirror tilt half double jpeg-mirror jpeg-rotate jpeg-tilt jpeg-crop jpeg-half jpeg-straighten jpeg-distortion jpeg-perspective jpeg-upright}
[ -x "$talvine" ] || { echo "no tool at $talvine (cmake --workflow --preset release)" >&2; exit 1; }
command -v convert >/dev/null || { echo "ImageMagick's convert is needed to make the pictures" >&2; exit 1; }
mkdir -p "$dir"
set -f # the commands below are split into words, never globbed

# A photograph's statistics without a photograph: a plasma fractal, softened,
# with a little sensor noise; 8-bit RGB, about half its raw size as PNG.
if [ ! -s "$dir/photo.png" ]; then
    echo "making $dir/photo.png (6000 x 4000, about 20 s)" >&2
    convert -size 6000x4000 -seed 7 plasma:fractal -blur 0x1.5 -attenuate 0.15 \
        +noise Gaussian -depth 8 -define png:color-type=2 "$dir/photo.png"
fi
[ -s "$dir/photo.jpg" ] || convert "$dir/photo.png" -quality 90 "$dir/photo.jpg"

tools=()
[ -n "${TALVINE_BEFORE:-}" ] && tools+=(before)
tools+=(talvine)
command -v vips >/dev/null && tools+=(vips)
tools+=(convert)

# The command of one tool for one job, writing $2.
command_for() {
    local tool=$1 job=$2 out=$3 bin=$talvine
    local png="$dir/photo.png" jpg="$dir/photo.jpg"
    [ "$tool" = before ] && bin=$TALVINE_BEFORE
    case "$tool:$job" in
    talvine:mirror | before:mirror) echo "$bin mirror-h $png $out" ;;
    talvine:tilt | before:tilt) echo "$bin tilt $png $out --from 0,2000 --to 5999,2105 --bilinear" ;;
    talvine:half | before:half) echo "$bin resize $png $out --percent 50 --smooth" ;;
    talvine:double | before:double) echo "$bin resize $png $out --percent 200 --smooth" ;;
    talvine:jpeg-mirror | before:jpeg-mirror) echo "$bin mirror-h $jpg $out" ;;
    talvine:jpeg-rotate | before:jpeg-rotate) echo "$bin rotate-cw $jpg $out" ;;
    talvine:jpeg-tilt | before:jpeg-tilt) echo "$bin tilt $jpg $out --from 0,2000 --to 5999,2105 --bilinear" ;;
    talvine:jpeg-crop | before:jpeg-crop) echo "$bin crop $jpg $out --geometry 4000x3000+1000+500" ;;
    talvine:jpeg-half | before:jpeg-half) echo "$bin resize $jpg $out --percent 50 --smooth" ;;
    talvine:jpeg-straighten | before:jpeg-straighten) echo "$bin straighten $jpg $out --from 0,2000 --to 5999,2105" ;;
    talvine:jpeg-distortion | before:jpeg-distortion) echo "$bin distortion $jpg $out --rate 20 --law 2" ;;
    talvine:jpeg-perspective | before:jpeg-perspective) echo "$bin perspective $jpg $out --corners 300,0 5700,0 6000,4000 0,4000 --vertical 0" ;;
    talvine:jpeg-upright | before:jpeg-upright) echo "$bin upright $jpg $out" ;;
    vips:mirror) echo "vips flip $png $out horizontal" ;;
    vips:tilt) echo "vips rotate $png $out 1.0027 --interpolate bilinear" ;;
    vips:half) echo "vips resize $png $out 0.5 --kernel linear" ;;
    vips:double) echo "vips resize $png $out 2 --kernel linear" ;;
    vips:jpeg-mirror) echo "vips flip $jpg $out[Q=90] horizontal" ;;
    vips:jpeg-rotate) echo "vips rot $jpg $out[Q=90] d90" ;;
    vips:jpeg-tilt) echo "vips rotate $jpg $out[Q=90] 1.0027 --interpolate bilinear" ;;
    vips:jpeg-crop) echo "vips crop $jpg $out[Q=90] 1000 500 4000 3000" ;;
    vips:jpeg-half) echo "vips resize $jpg $out[Q=90] 0.5 --kernel linear" ;;
    convert:mirror) echo "convert $png -flop $out" ;;
    convert:tilt) echo "convert $png -interpolate bilinear -filter point -virtual-pixel white -distort SRT 1.0027 $out" ;;
    convert:half) echo "convert $png -filter triangle -resize 50% $out" ;;
    convert:double) echo "convert $png -filter triangle -resize 200% $out" ;;
    convert:jpeg-mirror) echo "convert $jpg -flop -quality 90 $out" ;;
    convert:jpeg-rotate) echo "convert $jpg -rotate 90 -quality 90 $out" ;;
    convert:jpeg-tilt) echo "convert $jpg -interpolate bilinear -filter point -virtual-pixel white -distort SRT 1.0027 -quality 90 $out" ;;
    convert:jpeg-crop) echo "convert $jpg -crop 4000x3000+1000+500 +repage -quality 90 $out" ;;
    convert:jpeg-half) echo "convert $jpg -filter triangle -resize 50% -quality 90 $out" ;;
    # The same turn and a crop of the size talvine's straighten reports.
    convert:jpeg-straighten) echo "convert $jpg -interpolate bilinear -filter point -distort SRT 1.0027 -gravity center -crop 5929x3893+0+0 +repage -quality 90 $out" ;;
    convert:jpeg-distortion) echo "convert $jpg -interpolate bilinear -filter point -virtual-pixel white -distort Barrel 0,0,0.05,0.95 -quality 90 $out" ;;
    convert:jpeg-perspective) echo "convert $jpg -interpolate bilinear -filter point -virtual-pixel white -distort Perspective 300,0,0,0,5700,0,5999,0,5999,3999,5999,3999,0,3999,0,3999 -quality 90 $out" ;;
    esac
}

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

printf "%-12s %-8s %9s %10s %10s\n" job tool "median s" "peak MB" "output MB"
for job in $jobs; do
    ext=png
    case $job in jpeg-*) ext=jpg ;; esac
    for tool in "${tools[@]}"; do
        out="$dir/out-$job-$tool.$ext"
        cmd=$(command_for "$tool" "$job" "$out")
        [ -n "$cmd" ] || continue
        times=()
        peak=0
        for ((k = 0; k < runs; ++k)); do
            rm -f "$out"
            if ! /usr/bin/time -f "%e %M" -o "$dir/time.txt" $cmd >/dev/null 2>"$dir/stderr.txt"; then
                echo "$tool $job failed: $(tail -1 "$dir/stderr.txt")" >&2
                continue 2
            fi
            read -r seconds kb <"$dir/time.txt"
            times+=("$seconds")
            [ "$kb" -gt "$peak" ] && peak=$kb
        done
        size=$(stat -c %s "$out")
        printf "%-12s %-8s %9.2f %10.0f %10.1f\n" "$job" "$tool" \
            "$(printf "%s\n" "${times[@]}" | median)" "$((peak / 1024))" \
            "$(awk "BEGIN {print $size / 1048576}")"
    done
done
