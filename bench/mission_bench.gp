# Plots of the mission benchmark: install time against file count, and time per file at scale.
# Called by mission_bench.py with installdat, installpng, scaledat, scalepng and withscale set.
set terminal pngcairo size 900,600 font ",10"
set grid
set key top left

set output installpng
set title "Install time against number of mission files (medians)"
set xlabel "files in the mission"
set ylabel "seconds"
set logscale xy
plot installdat using 1:2 with linespoints pointtype 7 title "program (Brennick mission.zip -a)", \
     installdat using 1:3 with linespoints pointtype 5 title "tools (zip backup + unzip -o)"

if (withscale) {
    set output scalepng
    set title "Time per file at scale (small files, 1 to 8 KB)"
    set ylabel "milliseconds per file"
    unset logscale y
    set yrange [0:*]
    plot scaledat using 1:2 with linespoints pointtype 7 title "program install", \
         scaledat using 1:3 with linespoints pointtype 5 title "tools install", \
         scaledat using 1:4 with linespoints pointtype 6 title "program deinstall", \
         scaledat using 1:5 with linespoints pointtype 4 title "tools deinstall"
}
