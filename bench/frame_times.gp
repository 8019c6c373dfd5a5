# The frame-time distributions of the game and its references, side by side, from the benchmark's
# .frame_us files in the directory `dir` (gnuplot -e "dir='...'" frame_times.gp).
set terminal pngcairo size 900,520 font ',11'
set output dir.'/frame_times.png'
set title 'Time per frame while scrolling, all rounds (box: quartiles, whiskers: 1.5 IQR)'
set ylabel 'microseconds per frame'
set logscale y
set style data boxplot
set style boxplot outliers pointtype 7
set pointsize 0.2
set style fill solid 0.3
set xtics ('game' 1, 'bare Allegro' 2, 'SDL2 software' 3, 'SDL2 OpenGL' 4) scale 0
set border 3
set ytics nomirror
unset key
plot for [i=1:4] dir.'/'.word('game bare sdl_software sdl_opengl', i).'.frame_us' using (i):1
