# Seconds per manifest entry against the number of entries, both builds.
#   gnuplot -e "datafile='scaling.dat'; outfile='scaling.png'" scaling.gp
# Data: index 0 the POSIX program, index 1 the Win32 program under Wine;
# columns: entries, wall seconds per entry, net seconds per entry (the
# entries beyond the first 10; CPU time for POSIX, wall time under Wine).
if (!exists("datafile")) datafile = 'scaling.dat'
if (!exists("outfile")) outfile = 'scaling.png'

set terminal pngcairo size 900,560 enhanced font "sans,10"
set encoding utf8
set micro
set output outfile
set title "Tarvex: copy-only manifests of 4 KiB files, time per entry"
set xlabel "entries in the manifest"
set ylabel "seconds per entry"
set logscale x 10
set logscale y 10
set xrange [5:20000]
set format y "%.0s %cs"
set grid xtics ytics mxtics mytics lc rgb "#dddddd"
set key top right box opaque
set style line 1 lc rgb "#1f77b4" lw 2 pt 7 ps 1.2
set style line 2 lc rgb "#1f77b4" lw 1 dt 2 pt 6 ps 1.0
set style line 3 lc rgb "#d62728" lw 2 pt 5 ps 1.2
set style line 4 lc rgb "#d62728" lw 1 dt 2 pt 4 ps 1.0

plot datafile index 0 using 1:2 with linespoints ls 1 title "POSIX: wall time / entries", \
     datafile index 0 using 1:3 with linespoints ls 2 \
       title "POSIX: net CPU time, entries beyond the first 10", \
     datafile index 1 using 1:2 with linespoints ls 3 \
       title "Win32 under Wine: wall time / entries", \
     datafile index 1 using 1:3 with linespoints ls 4 \
       title "Win32 under Wine: net wall time, entries beyond the first 10"
