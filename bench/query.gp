# Draws varnquery's picture from keys.dat (keys, then ms for varnquery and the loop of single
# lookups on the 20-line table, then on the 1,000,000-line table) to the file out.
#   gnuplot -e "out='query.svg'" query.gp
set terminal svg size 1100,420 font "sans,12" background "white"
set output out
set multiplot layout 1,2
set logscale xy
set xlabel "keys"
set ylabel "median ms"
set xtics ("1" 1, "10" 10, "100" 100, "1e3" 1000, "1e4" 10000, "1e5" 100000)
set xrange [0.7:140000]
set key top left
set datafile missing "NaN"
set title "20-line table"
plot "keys.dat" using 1:2 with linespoints pt 7 title "varnquery", \
     "" using 1:3 with linespoints pt 7 title "bash loop of varnparse"
set title "1,000,000-line table"
plot "keys.dat" using 1:4 with linespoints pt 7 title "varnquery", \
     "" using 1:5 with linespoints pt 7 title "bash loop of varnparse"
unset multiplot
