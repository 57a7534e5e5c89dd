#!/usr/bin/env bash
# Draws the GIF images of the Zorvik sample package with ImageMagick:
# the page banner, the page backdrop tile, six screen pictures (PageA..PageF)
# and the workflow picture (Extra). The output carries no metadata or
# timestamps, so running the script again gives the same bytes with the same
# ImageMagick and fonts (IPA Gothic, DejaVu Sans).
#   make_images.sh [OUTDIR]     (default: the folder of this script)
set -euo pipefail
out=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)}
mkdir -p "$out"

JP=/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf
BOLD=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
for f in "$JP" "$BOLD"; do
  [ -f "$f" ] || { echo "make_images: font $f is missing (fonts-ipafont-gothic, fonts-dejavu-core)" >&2; exit 1; }
done
command -v convert >/dev/null || { echo "make_images: ImageMagick's convert is missing" >&2; exit 1; }

export MAGICK_THREAD_LIMIT=1   # identical quantisation on every machine
save() { convert "$@" -strip +set date:create +set date:modify "GIF:$out/$GIF"; }

# --- MVG helpers: each prints drawing commands --------------------------------
# raised W H X Y: a classic raised 3-D frame
raised() {
  local w=$1 h=$2 x=${3:-0} y=${4:-0}
  local r=$((x + w - 1)) b=$((y + h - 1))
  echo "fill '#c0c0c0' stroke none rectangle $x,$y $r,$b"
  echo "stroke '#ffffff' line $x,$y $r,$y line $x,$y $x,$b"
  echo "stroke '#808080' line $((x + 1)),$((b - 1)) $((r - 1)),$((b - 1)) line $((r - 1)),$((y + 1)) $((r - 1)),$((b - 1))"
  echo "stroke '#000000' line $x,$b $r,$b line $r,$y $r,$b"
  echo "stroke none"
}
# sunken X Y W H FILL: a sunken field (edit box, list)
sunken() {
  local x=$1 y=$2 w=$3 h=$4 fill=${5:-#ffffff}
  local r=$((x + w - 1)) b=$((y + h - 1))
  echo "fill '$fill' stroke none rectangle $x,$y $r,$b"
  echo "stroke '#808080' line $x,$y $r,$y line $x,$y $x,$b"
  echo "stroke '#ffffff' line $x,$b $r,$b line $r,$y $r,$b"
  echo "stroke none"
}
# text X Y STRING [COLOUR]: 12-pixel Japanese text, baseline at Y
text() { echo "fill '${4:-#000000}' font '$JP' font-size 12 text $1,$2 '$3'"; }
# width STRING: pixel width of 12-pixel text (ASCII 6, everything else 12)
width() {
  local ascii=${1//[^ -~]/}
  echo $(( ${#ascii} * 6 + (${#1} - ${#ascii}) * 12 ))
}
# button X Y W H LABEL
button() {
  local x=$1 y=$2 w=$3 h=$4 label=$5
  raised "$w" "$h" "$x" "$y"
  text $((x + (w - $(width "$label")) / 2)) $((y + h / 2 + 5)) "$label"
}
# titlebar W: the caption's colour gradient, dark blue to light blue
titlebar() {
  local x last=$(($1 - 4)) r g b
  for ((x = 3; x <= last; x++)); do
    r=$((16 * (x - 3) / (last - 3))); g=$((132 * (x - 3) / (last - 3))); b=$((128 + 80 * (x - 3) / (last - 3)))
    printf "stroke '#%02x%02x%02x' line %d,3 %d,20\n" $r $g $b $x $x
  done
  echo "stroke none"
}
# check X Y CHECKED LABEL
check() {
  sunken "$1" "$2" 13 13
  if [ "$3" = 1 ]; then
    echo "stroke '#000000' stroke-width 2 polyline $(($1 + 3)),$(($2 + 6)) $(($1 + 5)),$(($2 + 9)) $(($1 + 10)),$(($2 + 3)) stroke-width 1 stroke none fill none"
  fi
  text $(($1 + 18)) $(($2 + 11)) "$4"
}
# window W H TITLE MENU: frame, title bar and menu bar of a main window
window() {
  local w=$1 h=$2
  raised "$w" "$h"
  titlebar "$w"
  echo "fill '#ffffff' font '$JP' font-size 12 text 22,16 '$3'"
  echo "fill '#c0c0c0' rectangle 6,6 17,17 fill '#ffffff' rectangle 8,7 15,16 fill '#0000ff' rectangle 9,9 14,10 rectangle 9,13 14,14"
  local bx
  for bx in $((w - 52)) $((w - 36)) $((w - 20)); do raised 16 14 "$bx" 5; done
  echo "stroke '#000000' line $((w - 48)),15 $((w - 42)),15 rectangle $((w - 32)),8 $((w - 25)),15 line $((w - 16)),8 $((w - 10)),14 line $((w - 16)),14 $((w - 10)),8 stroke none fill none"
  [ -n "${4:-}" ] && text 8 36 "$4"
  return 0
}
# dialog W H TITLE: frame and title bar of a dialog box
dialog() {
  raised "$1" "$2"
  titlebar "$1"
  echo "fill '#ffffff' font '$JP' font-size 12 text 8,16 '$3'"
  raised 16 14 $(($1 - 20)) 5
  echo "stroke '#000000' line $(($1 - 16)),8 $(($1 - 10)),14 line $(($1 - 16)),14 $(($1 - 10)),8 stroke none"
}
# screen W H [BACKGROUND]: render the collected commands; shapes are drawn
# without anti-aliasing like a screen of the time, text is smoothed
screen() { save -size "$1x$2" "xc:${3:-#c0c0c0}" -draw "stroke-antialias 0 $(cat "$mvg")" +dither -colors 64; }
mvg=$(mktemp)
trap 'rm -f "$mvg"' EXIT

# --- Banner.gif: the page header ---------------------------------------------
GIF=Banner.gif
save -size 80x600 gradient:'#0a2a6c-#2a9cc8' -rotate -90 \
  \( -size 600x80 pattern:checkerboard -fill '#ffffff' -colorize 88% \) -compose multiply -composite -compose over \
  -fill '#ffffff20' -draw 'circle 520,40 560,100' -draw 'circle 470,10 500,50' \
  -fill '#fffbe0' -stroke '#333333' -draw 'polygon 18,12 58,12 70,24 70,70 18,70' \
  -fill '#d8d8c8' -draw 'polygon 58,12 58,24 70,24' \
  -fill '#2050c0' -stroke none -draw 'polygon 26,26 62,26 62,34 38,58 62,58 62,64 26,64 26,56 50,34 26,34' \
  -font "$BOLD" -pointsize 40 -fill '#00000060' -draw "text 91,53 'Zorvik'" \
  -fill '#ffffff' -draw "text 88,50 'Zorvik'" \
  -font "$JP" -pointsize 14 -fill '#e8f4ff' -draw "text 92,70 'クリップボードとメモの整理ツール'" \
  -font "$BOLD" -pointsize 11 -fill '#c8e4ff' -draw "text 470,70 'Version 1.20'" \
  -colors 256

# --- Backdrop.gif: paper tile behind the page --------------------------------
GIF=Backdrop.gif
save -seed 1201 -size 64x64 plasma:grey50-grey50 -colorspace Gray -blur 0x0.6 \
  -auto-level +level-colors '#f1ead6,#fdfbf4' \
  -fill '#e8ecf6' -draw 'rectangle 0,31 63,31' -draw 'rectangle 0,63 63,63' \
  -dither FloydSteinberg -colors 6

# --- PageA.gif: the main window ------------------------------------------------
GIF=PageA.gif
{
  window 360 260 "Zorvik - 標準トレイ" "ファイル(F)  編集(E)  表示(V)  トレイ(T)  ヘルプ(H)"
  echo "stroke '#808080' line 3,41 356,41 stroke '#ffffff' line 3,42 356,42 stroke none"
  for i in 0 1 2 3 4 5; do
    x=$((8 + i * 24)); raised 22 20 $x 45
    echo "fill '#$(printf '%s' 'ffd040 40a0ff ff6060 60c060 c080ff ffffff' | cut -d' ' -f$((i + 1)))' stroke '#000080' rectangle $((x + 5)),50 $((x + 16)),60 stroke none"
  done
  sunken 6 69 96 166
  text 12 84 "▼ トレイ"
  text 22 100 "標準トレイ" ; echo "fill '#000080' rectangle 20,89 84,103"; text 22 100 "標準トレイ" "#ffffff"
  text 22 116 "仕事"; text 22 132 "買い物メモ"; text 22 148 "コード片"; text 22 164 "住所・電話"
  text 12 182 "▼ 履歴"; text 22 198 "今日 (12)"; text 22 214 "昨日 (8)"
  sunken 106 69 248 166
  raised 60 16 108 71; raised 184 16 168 71
  text 112 83 "時刻"; text 172 83 "内容"
  rows=("09:12|会議室の予約番号 4521" "09:40|https://example.com/zorvik" "10:05|見積書の件、了解しました。" "10:31|東京都千代田区 1-2-3" "11:02|SELECT * FROM notes;" "11:47|来週の打ち合わせ候補日" "13:15|パスワード変更のお知らせ" "14:20|ご確認よろしくお願いします。" "15:03|牛乳、パン、卵")
  y=102
  for i in "${!rows[@]}"; do
    [ "$i" = 2 ] && echo "fill '#000080' rectangle 108,$((y - 12)) 351,$((y + 3))"
    c='#000000'; [ "$i" = 2 ] && c='#ffffff'
    text 112 $y "${rows[$i]%%|*}" "$c"; text 172 $y "${rows[$i]#*|}" "$c"
    y=$((y + 16))
  done
  sunken 4 238 352 18 '#c0c0c0'
  text 8 251 "12 件のクリップ"; text 250 251 "Ctrl+Shift+V"
} > "$mvg"
screen 360 260

# --- PageB.gif: creating a tray ------------------------------------------------
GIF=PageB.gif
{
  dialog 300 220 "トレイの作成"
  text 14 44 "トレイの名前(N):"
  sunken 14 50 272 22; text 20 66 "旅行の準備"
  text 14 94 "アイコン(I):"
  for i in 0 1 2 3 4 5 6 7; do
    x=$((14 + i * 30)); sunken $x 100 26 26
    col=$(echo "ffd040 40a0ff ff6060 60c060 c080ff ff9040 40c0c0 a0a0a0" | cut -d' ' -f$((i + 1)))
    echo "fill '#$col' stroke '#000000' rectangle $((x + 6)),106 $((x + 19)),119 stroke none"
    [ $i = 1 ] && echo "stroke '#000080' stroke-width 2 fill none rectangle $((x + 1)),101 $((x + 24)),124 stroke-width 1 stroke none"
  done
  check 14 136 1 "新しいクリップをこのトレイに入れる(D)"
  check 14 156 0 "保存期間を設ける(K):  30 日"
  button 116 186 80 24 "OK"
  button 204 186 80 24 "キャンセル"
} > "$mvg"
screen 300 220

# --- PageC.gif: finding clips --------------------------------------------------
GIF=PageC.gif
{
  window 360 250 "Zorvik - 検索" "ファイル(F)  編集(E)  表示(V)  トレイ(T)  ヘルプ(H)"
  text 10 60 "検索する文字列(S):"
  sunken 118 46 160 22; text 124 62 "打ち合わせ"
  button 284 45 68 24 "検索"
  check 10 76 1 "すべてのトレイ(A)"; check 150 76 0 "大文字と小文字を区別(C)"
  sunken 6 98 348 128
  rows=("仕事|来週の打ち合わせ候補日" "仕事|打ち合わせ資料の送付先" "標準トレイ|打ち合わせは 3 階会議室です" "履歴|打ち合わせメモ 2/14" "仕事|打ち合わせ議事録のひな形" "コード片|// TODO: 打ち合わせ後に修正")
  y=114
  for i in "${!rows[@]}"; do
    [ "$i" = 0 ] && echo "fill '#000080' rectangle 8,$((y - 12)) 351,$((y + 3))"
    c='#000000'; [ "$i" = 0 ] && c='#ffffff'
    text 12 $y "${rows[$i]%%|*}" "$c"; text 100 $y "${rows[$i]#*|}" "$c"
    y=$((y + 18))
  done
  sunken 4 230 352 16 '#c0c0c0'; text 8 242 "6 件見つかりました"
} > "$mvg"
screen 360 250

# --- PageD.gif: the options dialog ---------------------------------------------
GIF=PageD.gif
{
  dialog 320 240 "オプション"
  raised 44 20 10 28; raised 76 20 54 28; raised 44 20 130 28
  echo "fill '#c0c0c0' rectangle 11,44 52,50"
  text 20 43 "全般"; text 62 43 "ホットキー"; text 140 43 "保存"
  echo "stroke '#ffffff' line 10,48 310,48 line 10,48 10,200 stroke '#000000' line 310,48 310,200 line 10,200 310,200 stroke none"
  check 22 60 1 "Windows の起動時に Zorvik を開始する(S)"
  check 22 80 1 "タスクトレイにアイコンを表示する(T)"
  check 22 100 0 "同じ内容のクリップを記録しない(D)"
  check 22 120 1 "パスワードらしい文字列は記録しない(P)"
  text 22 156 "履歴に残す件数(H):"; sunken 150 142 50 20; text 156 157 "200"
  raised 16 10 184 143; raised 16 10 184 152
  text 22 184 "呼び出しキー:  Ctrl + Shift + V"
  button 72 208 74 24 "OK"; button 154 208 74 24 "キャンセル"; button 236 208 74 24 "適用(A)"
} > "$mvg"
screen 320 240

# --- PageE.gif: editing a clip -------------------------------------------------
GIF=PageE.gif
{
  window 340 230 "クリップの編集 - 仕事" "ファイル(F)  編集(E)  書式(O)"
  sunken 6 44 328 150
  lines=("件名: 打ち合わせ議事録" "日時: 2月14日 14:00～15:00" "出席: 営業部 3 名、開発部 2 名" "" "1. 新しいトレイ機能の説明" "2. 次回リリースの日程" "3. その他" "" "次回は 2 月 21 日の予定。")
  y=60
  for l in "${lines[@]}"; do [ -n "$l" ] && text 12 $y "$l"; y=$((y + 15)); done
  echo "stroke '#000000' line 80,178 80,190 stroke none"
  button 170 200 78 24 "保存(S)"; button 254 200 78 24 "閉じる"
} > "$mvg"
screen 340 230

# --- PageF.gif: the task tray menu ---------------------------------------------
GIF=PageF.gif
{
  echo "fill '#008080' rectangle 0,0 319,239"
  raised 320 28 0 212
  raised 54 22 3 215; text 10 231 "スタート"
  sunken 226 215 90 22 '#c0c0c0'; text 272 231 "15:03"
  echo "fill '#fffbe0' stroke '#000000' polygon 232,218 244,218 248,222 248,234 232,234 stroke none fill '#2050c0' polygon 235,222 245,222 245,224 238,231 245,231 245,233 235,233 235,231 242,224 235,224"
  raised 196 188 110 20
  items=("開く(O)" "-" "1  牛乳、パン、卵" "2  ご確認よろしくお願いします。" "3  パスワード変更のお知らせ" "4  13:15 の打ち合わせ" "-" "一時停止(P)" "オプション(S)..." "-" "終了(X)")
  y=38
  for i in "${!items[@]}"; do
    it=${items[$i]}
    if [ "$it" = "-" ]; then
      echo "stroke '#808080' line 114,$((y - 8)) 301,$((y - 8)) stroke '#ffffff' line 114,$((y - 7)) 301,$((y - 7)) stroke none"
      y=$((y + 8)); continue
    fi
    if [ "$i" = 3 ]; then echo "fill '#000080' rectangle 113,$((y - 13)) 302,$((y + 4))"; text 122 $y "$it" '#ffffff'
    else text 122 $y "$it"; fi
    y=$((y + 18))
  done
} > "$mvg"
screen 320 240

# --- Extra.gif: how a clip travels -------------------------------------------
GIF=Extra.gif
{
  echo "fill '#ffffff' rectangle 0,0 479,179"
  boxes=("20|コピー|Ctrl+C" "180|Zorvik|トレイに整理" "340|貼り付け|Ctrl+Shift+V")
  for b in "${boxes[@]}"; do
    x=${b%%|*}; rest=${b#*|}; t1=${rest%%|*}; t2=${rest#*|}
    echo "fill '#d0e4ff' stroke '#2050c0' stroke-width 2 roundrectangle $x,50 $((x + 120)),130 10,10 stroke-width 1 stroke none"
    text $((x + 14)) 84 "$t1" '#102060'; text $((x + 14)) 108 "$t2" '#404040'
  done
  for x in 146 306; do
    echo "fill '#f08020' stroke none polygon $x,84 $((x + 18)),84 $((x + 18)),76 $((x + 30)),90 $((x + 18)),104 $((x + 18)),96 $x,96"
  done
  for i in 0 1 2; do
    echo "fill '#fffbe0' stroke '#808080' rectangle $((196 + i * 30)),140 $((220 + i * 30)),168 stroke none"
    echo "stroke '#c0c0c0' line $((200 + i * 30)),148 $((216 + i * 30)),148 line $((200 + i * 30)),154 $((216 + i * 30)),154 line $((200 + i * 30)),160 $((212 + i * 30)),160 stroke none"
  done
  text 20 28 "クリップの流れ: コピーしたものはトレイに入り、いつでも貼り付けられます" '#000000'
} > "$mvg"
screen 480 180 '#ffffff'

ls -l "$out"/*.gif | awk '{print $5, $9}'
