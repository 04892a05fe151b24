#!/usr/bin/env bash
# Makes three test clips for measuring .cas clips and denoising, from FFmpeg's own test sources
# (no footage from elsewhere). Each is 640 × 480, lossless (FFV1 in Matroska), with camera noise
# of the same strength (noise=alls=12:allf=t, its seed FFmpeg's fixed default), so the same
# FFmpeg gives the same pictures every time:
#   still.mkv    a still camera, 10 frames/s, 60 s: one Mandelbrot frame as the fixed scene,
#                three boxes moving across it
#   talking.mkv  a talking head, 25 frames/s, 30 s: a face (an ellipse head, two eyes, a mouth
#                that opens and closes as in speech, with pauses) swaying slightly in front of
#                a detailed still background
#   pan.mkv      a slow pan, 25 frames/s, 30 s: the camera moves 20 pixels a second across a
#                wide Mandelbrot picture, drifting a little up and down
#
#   clip_footage.sh OUTDIR                 (FFMPEG=/path/to/ffmpeg to choose the binary)
set -euo pipefail

out="${1:?usage: clip_footage.sh OUTDIR}"
ffmpeg="${FFMPEG:-ffmpeg}"
mkdir -p "$out"

noise="noise=alls=12:allf=t"

# make NAME SECONDS RATE FILTERGRAPH: one clip, written under a temporary name and moved into
# place when whole.
make() {
    local name="$1" seconds="$2" rate="$3" graph="$4"
    local part="$out/$name.part.mkv"
    trap 'rm -f "$part"' EXIT
    "$ffmpeg" -nostdin -hide_banner -loglevel error -y -f lavfi -i "$graph" \
        -t "$seconds" -r "$rate" -c:v ffv1 -threads 1 \
        -fflags +bitexact -flags:v +bitexact -map_metadata -1 "$part"
    mv "$part" "$out/$name.mkv"
    trap - EXIT
    echo "$out/$name.mkv"
}

# The still camera: one Mandelbrot frame as the fixed scene and three boxes moving across it,
# as people walk through a hall. (drawbox cannot move them: its "t" is the box's thickness, not
# the time; overlay works its place out every frame.) The noise is added to the RGB picture, as
# the first measurements of clips did.
make still 60 10 "mandelbrot=size=640x480:rate=10,trim=end_frame=1,loop=loop=-1:size=1,
setpts=N/10/TB[scene];
color=c=red:size=60x40:rate=10[red];color=c=yellow:size=40x40:rate=10[yellow];
color=c=cyan:size=30x30:rate=10[cyan];
[scene][red]overlay=x='100+80*sin(t)':y=200:eval=frame:shortest=1[a];
[a][yellow]overlay=x=400:y='100+60*sin(1.3*t)':eval=frame:shortest=1[b];
[b][cyan]overlay=x='mod(t*20,640)':y=380:eval=frame:shortest=1,format=bgr0,$noise"

# The talking head. The face is drawn once (geq is slow) on a transparent picture and laid over
# the background with a sway of a few pixels; the mouth, a dark slit drawn anew each frame (a
# small picture, cheap for geq), is laid over it with the same sway. It opens and closes about
# three times a second while "speaking", shut in the pauses. (drawbox cannot do this: its
# expressions are worked out once, and its "t" is the box's thickness, not the time.)
sway_x="6*sin(2*PI*t/3.1)"
sway_y="3*sin(2*PI*t/2.3)"
head="(pow((X-120)/100,2)+pow((Y-150)/130,2))"
eyes="lte(pow((X-82)/16,2)+pow((Y-118)/9,2),1)+lte(pow((X-158)/16,2)+pow((Y-118)/9,2),1)"
mouth_open="max(0,sin(2*PI*3*T))*gt(sin(2*PI*0.35*T),-0.4)"
make talking 30 25 "mandelbrot=size=640x480:rate=25:start_x=-0.7436:start_y=0.1318:start_scale=0.02,
trim=end_frame=1,loop=loop=-1:size=1,setpts=N/25/TB[background];
color=c=black@0:size=240x300:rate=25,format=rgba,trim=end_frame=1,
geq=r='if(gt($eyes,0),40,230)':g='if(gt($eyes,0),30,185)':b='if(gt($eyes,0),30,150)':a='255*lte($head,1)',
loop=loop=-1:size=1,setpts=N/25/TB[face];
color=c=black@0:size=60x24:rate=25,format=rgba,
geq=r=64:g=24:b=24:a='255*lte(pow((X-30)/30,2)+pow((Y-12)/(1+11*$mouth_open),2),1)'[mouth];
[background][face]overlay=x='200+$sway_x':y='90+$sway_y':eval=frame[withface];
[withface][mouth]overlay=x='290+$sway_x':y='318+$sway_y':eval=frame:shortest=1,
format=yuv420p,$noise"

# The pan: a crop window moving across one wide picture.
make pan 30 25 "mandelbrot=size=1400x560:rate=25:start_x=-0.75:start_y=0.05:start_scale=1.2,
trim=end_frame=1,loop=loop=-1:size=1,setpts=N/25/TB,
crop=w=640:h=480:x='20*t':y='40+30*sin(2*PI*t/20)',format=yuv420p,$noise"
