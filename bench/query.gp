# Draws varnquery's picture from keys.dat: keys, then for the 20-line table and then the
# 1,000,000-line one the ms of the absent-key scan, varnquery, grep -F -f, the mawk join and the
# loop of single lookups (NaN where not measured).
#   gnuplot -e "out='query.svg'" query.gp
set terminal svg size 1100,480 font "sans,12" background "white"
set output out
set multiplot layout 1,2
set logscale xy
set xlabel "keys"
set ylabel "median ms"
set xtics ("1" 1, "10" 10, "100" 100, "1e3" 1000, "1e4" 10000, "1e5" 100000)
set xrange [0.7:140000]
set key below maxrows 2
set datafile missing "NaN"
do for [t = 0:1] {
  set title (t == 0 ? "20-line table" : "1,000,000-line table")
  c = 2 + 5 * t
  plot "keys.dat" using 1:(column(c + 1)) with linespoints pt 7 title "varnquery", \
       "" using 1:(column(c + 2)) with linespoints pt 5 title "grep -F -f", \
       "" using 1:(column(c + 3)) with linespoints pt 9 title "mawk hash join", \
       "" using 1:(column(c + 4)) with linespoints pt 11 title "bash loop of varnparse", \
       "" using 1:(column(c)) with lines lw 2 lc rgb "gray50" title "varnparse, one full scan"
}
unset multiplot
