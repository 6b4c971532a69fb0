# Throughput per workload phase for each contender, from qmx_bench's results.dat.
# gnuplot -e "datafile='build/bench/results.dat'; outfile='build/bench/throughput.png'" bench/throughput.gp
if (!exists("datafile")) datafile = 'build/bench/results.dat'
if (!exists("outfile")) outfile = 'build/bench/throughput.png'

set terminal pngcairo size 2400,900 font ",10" noenhanced
set output outfile
set title "qmx_bench: throughput per workload (median; higher is better; log scale)"
set datafile separator "\t"
set datafile missing "-"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y
set format y "%.0s%c"
set ylabel "units per second (see label)"
set grid ytics
set xtics rotate by -35 scale 0
set key top right
set bmargin 13
set rmargin 12
plot for [c=2:5] datafile using c:xticlabels(1) title columnheader(c)
