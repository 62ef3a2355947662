# The latency plot from zeva-bench's samples. bench/run.sh runs it as
#   gnuplot -e "data='DIR'; out='FILE.png'" bench/latency.gp
# Each data file holds sorted "milliseconds percent-at-or-below
# percent-at-or-above" lines. The plot shows the share of samples at or
# above each latency on logarithmic axes, so the tail stays readable: the
# curve crosses the 1 % line at the 99th percentile.
if (!exists("data")) data = "."
if (!exists("out")) out = "latency.png"

set terminal pngcairo size 1400,680 font "sans,11"
set output out
set multiplot layout 1,2 title "ZEVA Rotator latency: share of samples at or above each time (both axes logarithmic)"

set logscale xy
set xlabel "milliseconds"
set ylabel "per cent of samples at or above"
set xrange [0.01:100]
set yrange [0.05:100]
set format x "%g"
set format y "%g"
set grid xtics mxtics ytics
set key outside below center horizontal maxcols 3 width -2
set bmargin 9
set arrow 2 from 0.01, 1 to 100, 1 nohead dashtype 3 linecolor rgb "#888888"
set label 2 "p99" at 0.012, 1.25 textcolor rgb "#666666"

set title "Push: box reply written to direction line read (100 ms polls; both runs)"
set arrow 1 from 1, 0.05 to 1, 100 nohead dashtype 2 linecolor rgb "#cc0000"
set label 1 "target: p99 under 1 ms" at 1.1, 0.08 textcolor rgb "#cc0000"
plot data."/push-1.dat" using 1:3 with steps linewidth 2 linecolor 1 title "ZEVA, 1 rotator", \
     data."/push-8.dat" using 1:3 with steps linewidth 2 linecolor 2 title "ZEVA, 8 rotators", \
     data."/push-64.dat" using 1:3 with steps linewidth 2 linecolor 3 title "ZEVA, 64 rotators", \
     data."/floor-1.dat" using 1:3 with steps linewidth 1 linecolor 1 dashtype 2 title "floor (minimal relay), 1 rotator", \
     data."/floor-8.dat" using 1:3 with steps linewidth 1 linecolor 2 dashtype 2 title "floor, 8 rotators", \
     data."/floor-64.dat" using 1:3 with steps linewidth 1 linecolor 3 dashtype 2 title "floor, 64 rotators", \
     data."/unpolled-64.dat" using 1:3 with steps linewidth 2 linecolor 3 dashtype 3 title "ZEVA, 64, boxes speak unasked"

set title "Command: client write to the set command's first byte at the box"
set key outside below center horizontal maxcols 3 width -2
set bmargin 9
unset arrow 1
unset label 1
plot data."/command-zeva-beside-floor.dat" using 1:3 with steps linewidth 2 linecolor 3 title "ZEVA beside its floor (both runs)", \
     data."/command-floor.dat" using 1:3 with steps linewidth 1 linecolor 3 dashtype 2 title "floor (command relay)", \
     data."/command-zeva.dat" using 1:3 with steps linewidth 2 linecolor 1 title "ZEVA beside rotctld", \
     data."/command-rotctld-nowait.dat" using 1:3 with steps linewidth 2 linecolor 4 title "rotctld, post\\_write\\_delay=0", \
     data."/command-rotctld-default.dat" using 1:3 with steps linewidth 2 linecolor 7 dashtype 2 title "rotctld, default"

unset multiplot
