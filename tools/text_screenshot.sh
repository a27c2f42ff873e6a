#!/bin/sh
# Renders a 1920x1080 screenshot-like PNG (title bar, menu, sidebar, prose,
# code, status bar) at the path given, for the text benchmark; the text it
# drew goes to the same path with ".txt" added, one piece a line.
set -eu
out=${1:?usage: text_screenshot.sh out.png}
sans=DejaVu-Sans
mono=DejaVu-Sans-Mono

args="-size 1920x1080 'xc:#f4f4f4'"
args="$args -fill '#dde3ea' -draw 'rectangle 0,0 1919,36'"
args="$args -fill '#2b2b2b' -draw 'rectangle 0,1050 1919,1079'"
args="$args -fill '#e9edf1' -draw 'rectangle 0,37 300,1049'"
args="$args -fill '#ffffff' -draw 'rectangle 1000,80 1880,1000'"

: >"$out.txt"
text() { # font size colour x y words...
  f=$1 s=$2 c=$3 x=$4 y=$5; shift 5
  printf '%s\n' "$*" | sed 's/%%/%/g' >>"$out.txt"
  args="$args -font $f -pointsize $s -fill '$c' -annotate +$x+$y '$*'"
}

text $sans 16 black 20 25 "File   Edit   View   Go   Run   Terminal   Help"
text $sans 16 black 820 25 "report.txt - Visual Notes"
y=80
for item in Explorer "Open Editors" Outline Timeline Downloads Documents Pictures Music Settings; do
  text $sans 15 '#333333' 24 $y "$item"; y=$((y + 34))
done
y=90
while read -r line; do
  text $sans 17 '#111111' 340 $y "$line"; y=$((y + 30))
done <<'PROSE'
The quarterly report shows revenue of 4,210 units in March.
Shipping times improved by 12 percent after the warehouse move.
Please review the attached figures before the Friday meeting.
Customer feedback remains positive across all three regions.
The new onboarding flow reduced support tickets noticeably.
Next steps: finalise the budget and confirm the launch date.
PROSE
y=110
while read -r line; do
  text $mono 15 '#1a1a1a' 1020 $y "$line"; y=$((y + 26))
done <<'CODE'
int main(int argc, char** argv) {
  std::vector<std::string> names;
  for (int i = 1; i < argc; i++)
    names.push_back(argv[i]);
  if (names.empty()) return 2;
  printf("%%zu names", names.size());
  return 0;
}
CODE
text $sans 15 white 20 1070 "Ln 42, Col 7    Spaces: 4    UTF-8    LF    Ready"
text $sans 22 '#0b3d91' 340 400 "Total: 42"
text $sans 13 '#555555' 340 440 "Last saved 3 minutes ago by Dana Whitfield"

eval "convert $args -alpha off -depth 8 \"\$out\""
