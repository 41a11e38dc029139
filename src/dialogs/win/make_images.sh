#!/usr/bin/env bash
# Makes the Windows forms of the pictures that the Qt views' image folders
# hold as PNG (drawn by make_images.py): icons for the tray and the image
# combos, and the 24-bit bitmap of the database dialog. The
# results are committed, so the Windows build needs no ImageMagick; run this
# again after the PNG files change:  bash src/dialogs/win/make_images.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/../../.." && pwd)
# The PNG files sit in the Qt views' folders (before those existed, beside them).
img=$top/src/dialogs/qt/images
[ -d "$img" ] || img=$top/src/dialogs/images
svc=$top/src/service/qt/images
[ -d "$svc" ] || svc=$top/src/service/images
out=$top/src/dialogs/win/images
mkdir -p "$out"
command -v convert >/dev/null || { echo "make_images: ImageMagick's convert is missing" >&2; exit 1; }
# The program's icon, the tray's picture of the Linux build: the tray takes 16
# (20, 24 at higher dpi), windows 32 and more.
convert \( "$svc/telwick-32.png" -resize 16x16 \) \( "$svc/telwick-32.png" -resize 20x20 \) \
  \( "$svc/telwick-32.png" -resize 24x24 \) "$svc/telwick-32.png" \( "$svc/telwick-64.png" -resize 48x48 \) \
  "$svc/telwick-64.png" "$out/telwick.ico"
for name in computer eventtype eventlevel; do
  convert "$img/$name.png" \( "$img/$name.png" -filter point -resize 24x24 \) \
    \( "$img/$name.png" -filter point -resize 32x32 \) "$out/$name.ico"
done
# The picture of the database dialog: flattened onto the dialog's grey, 24 bits.
convert "$img/database.png" -background '#f0f0f0' -flatten -type TrueColor BMP3:"$out/database.bmp"
