# Draws the benchmark's picture from calls.dat (index, label, ms) and growth (lines, then ms for
# the newline count, varnparse, grep -F and mawk) in the current folder, to the file out.
#   gnuplot -e "out='cost.svg'" plot.gp
set terminal svg size 1100,420 font "sans,12" background "white"
set output out
set multiplot layout 1,2
set title "One call, 20-line table (median ms)"
set style fill solid 0.7
set boxwidth 0.6
set yrange [0:*]
set xtics font ",10" nomirror
set bmargin 5
set key off
plot "calls.dat" using 1:3:xtic(2) with boxes lc rgb "#4472c4"
set title "Full scan for an absent key (median ms)"
set logscale xy
set xlabel "table lines"
set xtics norotate font ",11" ("1e3" 1000, "1e4" 10000, "1e5" 100000, "1e6" 1000000, "1e7" 10000000)
set xrange [700:14000000]
set yrange [*:*]
set bmargin 4
set key top left
plot "growth" using 1:2 with linespoints pt 7 title "newline count", \
     "" using 1:3 with linespoints pt 7 title "varnparse (musl)", \
     "" using 1:4 with linespoints pt 7 title "grep -F", \
     "" using 1:5 with linespoints pt 7 title "mawk"
unset multiplot
