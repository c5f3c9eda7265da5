#!/bin/sh
# End-to-end cases of the stub under Wine: sh tests/wine/cases.sh CASE... (or "all").
# Each case builds its package with the project's packer, runs it in the one shared prefix
# on a private display, and checks what only the real platform shows: the box, its text,
# title and style, the files left behind, the command line, the window.
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$ROOT/tests/wine/lib.sh"

SAMPLES=$ROOT/tools/kivdemo/samples
TEMP_WIN='C:\users\'"$(id -un)"'\Temp'
REPORT_WIN='C:\kivreport.txt'

# run_package PACKAGE ARGS...: runs it to the end with the relay trace in $WORK/trace.
run_package() {
  run_traced "$WORK/trace" "$@"
  wait_run
  expect_eq "exit code" 0 "$RUN_STATUS"
}

# run_package_with_box PACKAGE ARGS...: the same for a run that must end in the error box.
run_package_with_box() {
  run_traced "$WORK/trace" "$@"
  dismiss_box "$ARTIFACTS/$CASE-box.png"
  wait_run
  expect_eq "exit code" 0 "$RUN_STATUS"
}

# expect_box TEXT: exactly one box, no owner, title "Setup", style 0x10, this text ("|" for CR LF).
expect_box() {
  expect_eq "boxes shown" 1 "$(relay_count user32.MessageBoxA "$WORK/trace")"
  grep -a -q 'Call user32.MessageBoxA(00000000,[0-9a-f]* ".*",[0-9a-f]* "Setup",00000010)' "$WORK/trace" ||
    fail "the box is not owner-less, titled Setup, style 0x10: $(grep -a 'Call user32.MessageBoxA' "$WORK/trace")"
  expect_eq "box text" "$1" "$(relay_strings user32.MessageBoxA "$WORK/trace")"
}

expect_no_box() { expect_eq "boxes shown" 0 "$(relay_count user32.MessageBoxA "$WORK/trace")"; }

expect_no_setup_file() {
  left=$(ls "$TEMP_DIR" | grep -i '^_setup' || true)
  expect_eq "files left in the temporary directory" "" "$left"
}

# expect_setup_file NAME PROGRAM B1 B2 B3 B4: the temporary setup file is byte for byte the
# program, the non-empty blocks and the rewritten trailer.
expect_setup_file() {
  name=$1; shift
  perl "$ROOT/tests/wine/expected_setup_file.pl" "$WORK/expected" "$@"
  [ -f "$TEMP_DIR/$name" ] || fail "no $name in the temporary directory: $(ls "$TEMP_DIR")"
  cmp "$WORK/expected" "$TEMP_DIR/$name" || fail "$name differs from the expected setup file"
}

started_command() { relay_strings KERNEL32.WinExec "$WORK/trace"; }

demo_tail() { printf "%s" "/nowindow /report=$REPORT_WIN"; }

# The demo setup as the program, the repository's sample blocks as blocks 1, 2 and 4.
sample_package() {
  build_package "$WORK/Setup.exe" "$KIVDEMO" "$SAMPLES/block1_license.txt" \
    "$SAMPLES/block2_readme.txt" - "$SAMPLES/block4_data.bin"
}

# Package check and start-up ---------------------------------------------------------------

case_bare_stub_is_damaged() {
  cp "$STUB" "$WORK/Setup.exe"
  run_package_with_box "$WORK/Setup.exe"
  expect_box "Setup.exe is damaged."
  cp "$ARTIFACTS/$CASE-box.png" "$ARTIFACTS/damaged-box.png"
}

case_flipped_magic_is_damaged() {
  sample_package
  size=$(stat -c %s "$WORK/Setup.exe")
  printf 'k' | dd of="$WORK/Setup.exe" bs=1 seek=$((size - 8)) conv=notrunc 2>/dev/null
  run_package_with_box "$WORK/Setup.exe"
  expect_box "Setup.exe is damaged."
  expect_no_setup_file
}

# The DLL search path is restricted before the stub does anything else.
case_dll_search_restricted_first() {
  cp "$STUB" "$WORK/Setup.exe"
  run_package_with_box "$WORK/Setup.exe"
  # The stub's own thread is the one that creates the preparing dialog.
  thread=$(grep -a 'Call user32.CreateDialogParamA' "$WORK/trace" | head -n 1 | cut -d: -f1)
  first=$(grep -a -E "^$thread:Call (KERNEL32|user32)\." "$WORK/trace" | grep -a -v '"__wine' | head -n 2 | sed 's/^[0-9a-f]*://; s/ ret=.*//')
  expect_eq "first calls" "$(printf '%s\n%s' \
    'Call KERNEL32.GetProcAddress(7b600000,00000000 "SetDefaultDllDirectories")' \
    'Call KERNEL32.SetDefaultDllDirectories(00000800)')" \
    "$(printf "%s\n" "$first" | sed 's/GetProcAddress(\([0-9a-f]*\),[0-9a-f]*/GetProcAddress(\1,00000000/')"
}

# Extraction -------------------------------------------------------------------------------

case_setup_file_is_byte_exact() {
  sample_package
  run_package "$WORK/Setup.exe" $(demo_tail)
  expect_no_box
  expect_setup_file _setup0.exe "$KIVDEMO" "$SAMPLES/block1_license.txt" \
    "$SAMPLES/block2_readme.txt" - "$SAMPLES/block4_data.bin"
}

case_all_blocks_absent() {
  build_package "$WORK/Setup.exe" "$KIVDEMO" - - - -
  run_package "$WORK/Setup.exe" $(demo_tail)
  expect_no_box
  expect_setup_file _setup0.exe "$KIVDEMO" - - - -
}

case_blocks_of_4096_and_4097() {
  head -c 4096 "$SAMPLES/block4_data.bin" >"$WORK/b4096"
  head -c 4097 /dev/zero | tr '\0' 'q' >"$WORK/b4097"
  build_package "$WORK/Setup.exe" "$KIVDEMO" - "$WORK/b4096" "$WORK/b4097" -
  run_package "$WORK/Setup.exe" $(demo_tail)
  expect_setup_file _setup0.exe "$KIVDEMO" - "$WORK/b4096" "$WORK/b4097" -
}

# naming PRESENT... -- CHOSEN: with these names taken, CHOSEN is created; the others keep
# their contents.
naming() {
  sample_package
  while [ "$1" != -- ]; do
    echo "keep $1" >"$TEMP_DIR/$1"; shift
  done
  chosen=$2
  run_package "$WORK/Setup.exe" $(demo_tail)
  expect_no_box
  for kept in "$TEMP_DIR"/_setup*; do
    name=$(basename "$kept")
    [ "$name" = "$chosen" ] || expect_eq "$name" "keep $name" "$(cat "$kept")"
  done
  expect_setup_file "$chosen" "$KIVDEMO" "$SAMPLES/block1_license.txt" \
    "$SAMPLES/block2_readme.txt" - "$SAMPLES/block4_data.bin"
  case $(started_command) in
    "$TEMP_WIN\\$chosen "*) ;;
    *) fail "started: $(started_command)" ;;
  esac
}

case_naming_takes_the_next_number() { naming _setup0.exe _setup1.exe -- _setup2.exe; }
case_naming_reuses_a_gap() { naming _setup1.exe -- _setup0.exe; }

# A name that exists but cannot be opened for reading (here a directory; as root no file
# can be made unreadable) is never opened for writing: the next number is used.
case_naming_skips_an_unreadable_name() {
  mkdir "$TEMP_DIR/_setup0.exe"
  echo "keep" >"$TEMP_DIR/_setup0.exe/inside"
  sample_package
  run_package "$WORK/Setup.exe" $(demo_tail)
  expect_eq "untouched" keep "$(cat "$TEMP_DIR/_setup0.exe/inside")"
  [ -f "$TEMP_DIR/_setup1.exe" ] || fail "_setup1.exe was not used"
}

# TMP and TEMP set by the caller's environment, without a final backslash.
case_naming_temp_without_backslash() {
  mkdir -p "$WINEPREFIX/drive_c/kivtemp"
  rm -f "$WINEPREFIX/drive_c/kivtemp"/_setup*
  sample_package
  run_traced "$WORK/trace" cmd /c "set TMP=C:\\kivtemp&& set TEMP=C:\\kivtemp&& $(win_path "$WORK/Setup.exe") $(demo_tail)"
  wait_run
  case $(started_command) in
    'C:\kivtemp\_setup0.exe '*) ;;
    *) fail "started: $(started_command)" ;;
  esac
  [ -f "$WINEPREFIX/drive_c/kivtemp/_setup0.exe" ] || fail "no C:\\kivtemp\\_setup0.exe"
}

case_block_past_the_end_leaves_nothing() {
  sample_package
  size=$(stat -c %s "$WORK/Setup.exe")
  # Block 4's size, at trailer offset 44, grown past the end of the file.
  perl -e 'open(F, "+<:raw", $ARGV[0]) or die; seek(F, $ARGV[1] - 12, 0); read(F, $b, 4);
           seek(F, $ARGV[1] - 12, 0); print F pack("V", unpack("V", $b) + 100000); close F' \
    "$WORK/Setup.exe" "$size"
  run_package_with_box "$WORK/Setup.exe" $(demo_tail)
  expect_box "Cannot copy setup information||to temporary file."
  expect_no_setup_file
}

# A package of 3 GiB, sparse, whose block 3 lies past 3 GiB: read through 64-bit positions.
case_block_beyond_2gib_is_read() {
  build_package "$WORK/small.exe" "$KIVDEMO" - - - -
  block=$SAMPLES/block4_data.bin
  perl -e 'my ($small, $block, $out) = @ARGV;
    open(S, "<:raw", $small) or die; local $/; my $head = <S>; close S;
    open(B, "<:raw", $block) or die; my $data = <B>; close B;
    my $trailer = substr($head, -56); $head = substr($head, 0, -56);
    my $at = 3 * 1024 * 1024 * 1024;
    substr($trailer, 32, 8) = pack("VV", $at, length $data);
    open(O, ">:raw", $out) or die; print O $head; seek(O, $at, 0) or die; print O $data, $trailer;
    close O or die' "$WORK/small.exe" "$block" "$WORK/Setup.exe"
  run_package "$WORK/Setup.exe" $(demo_tail)
  expect_no_box
  expect_setup_file _setup0.exe "$KIVDEMO" - - "$block" -
  rm -f "$WORK/Setup.exe"
}

case_all_400_names_taken() {
  sample_package
  n=0
  while [ $n -lt 400 ]; do : >"$TEMP_DIR/_setup$n.exe"; n=$((n + 1)); done
  run_package_with_box "$WORK/Setup.exe" $(demo_tail)
  expect_box "Cannot create temporary setup file.||$TEMP_WIN\\_setup399.exe"
  expect_eq "files" 400 "$(ls "$TEMP_DIR" | grep -c '^_setup')"
  for f in "$TEMP_DIR"/_setup*; do [ ! -s "$f" ] || fail "$f was written"; done
}

# Hand-over --------------------------------------------------------------------------------

# A full run with the demo setup: what it reports matches the package.
case_demo_setup_receives_everything() {
  sample_package
  run_package "$WORK/Setup.exe" /x $(demo_tail)
  expect_no_box
  report=$WINEPREFIX/drive_c/kivreport.txt
  [ -f "$report" ] || fail "the demo setup wrote no report"
  tr -d '\r' <"$report" >"$WORK/report"
  cp "$WORK/report" "$ARTIFACTS/demo-report.txt"
  command=$(started_command)
  expect_eq "command line" "command line: $command" "$(grep '^command line: ' "$WORK/report")"
  expect_eq "own path" "own path: $TEMP_WIN\\_setup0.exe" "$(grep '^own path: ' "$WORK/report")"
  expect_eq "tail" "tail: /x $(demo_tail)" "$(grep '^tail: ' "$WORK/report")"
  expect_eq "trailer" "trailer: ok" "$(grep '^trailer: ' "$WORK/report")"
  expect_eq "package size" "package size: $(stat -c %s "$WORK/Setup.exe")" "$(grep '^package size: ' "$WORK/report")"
  program=$(stat -c %s "$KIVDEMO")
  b1=$SAMPLES/block1_license.txt b2=$SAMPLES/block2_readme.txt b4=$SAMPLES/block4_data.bin
  s1=$(stat -c %s "$b1") s2=$(stat -c %s "$b2") s4=$(stat -c %s "$b4")
  expect_eq "block 1" "block 1: offset $program size $s1 crc32 $(crc32_of "$b1")" "$(grep '^block 1: ' "$WORK/report")"
  expect_eq "block 2" "block 2: offset $((program + s1)) size $s2 crc32 $(crc32_of "$b2")" "$(grep '^block 2: ' "$WORK/report")"
  expect_eq "block 3" "block 3: absent" "$(grep '^block 3: ' "$WORK/report")"
  expect_eq "block 4" "block 4: offset $((program + s1 + s2)) size $s4 crc32 $(crc32_of "$b4")" "$(grep '^block 4: ' "$WORK/report")"
  expect_eq "faults" "faults: 0" "$(grep '^faults: ' "$WORK/report")"
  case $command in
    "$TEMP_WIN\\_setup0.exe Z:\\"*" /x $(demo_tail)") ;;
    *) fail "command line: $command" ;;
  esac
  relay_count KERNEL32.WinExec "$WORK/trace" | grep -qx 1 || fail "WinExec not called once"
  grep -a -q 'Call KERNEL32.WinExec([0-9a-f]* ".*",00000005)' "$WORK/trace" || fail "not started with SW_SHOW"
}

# A program stream that decodes to bytes that are no program: the start fails.
case_failed_start_is_reported() {
  head -c 3000 "$SAMPLES/block1_license.txt" >"$WORK/not-a-program"
  build_package "$WORK/Setup.exe" "$WORK/not-a-program" - - - -
  run_package_with_box "$WORK/Setup.exe" /s
  command=$(started_command)
  code=$(grep -a -o 'Ret  KERNEL32.WinExec() retval=[0-9a-f]*' "$WORK/trace" | sed 's/.*=//')
  expect_box "Cannot load secondary setup.||$command||Error code = $((0x$code))"
  expect_no_setup_file
}

case_temp_with_blank_is_quoted() {
  blank='C:\kiv temp'
  mkdir -p "$WINEPREFIX/drive_c/kiv temp"
  rm -f "$WINEPREFIX/drive_c/kiv temp"/_setup*
  sample_package
  run_traced "$WORK/trace" cmd /c "set TMP=$blank&& set TEMP=$blank&& $(win_path "$WORK/Setup.exe") $(demo_tail)"
  wait_run
  case $(started_command) in
    "\"$blank\\_setup0.exe\" "*) ;;
    *) fail "started: $(started_command)" ;;
  esac
  tr -d '\r' <"$WINEPREFIX/drive_c/kivreport.txt" | grep -qxF "own path: $blank\\_setup0.exe" ||
    fail "the demo setup did not find its own path: $(cat "$WINEPREFIX/drive_c/kivreport.txt")"
}

# The preparing window during a long extraction: centred, borderless, with its icon and its
# sentence painted; gone once the secondary setup has started.
case_preparing_window_is_painted() {
  truncate -s 300M "$WORK/large.bin"
  build_package "$WORK/Setup.exe" "$KIVDEMO" - - "$WORK/large.bin" -
  run_traced "$WORK/trace" "$WORK/Setup.exe" "/report=$REPORT_WIN"
  id=""
  i=0
  while [ -z "$id" ] && [ $i -lt 300 ]; do
    id=$(xdotool search --onlyvisible --classname '^setup\.exe$' 2>/dev/null | head -n 1 || true)
    i=$((i + 1)); sleep 0.05
  done
  [ -n "$id" ] || fail "the preparing window never appeared"
  sleep 0.3
  eval "$(xdotool getwindowgeometry --shell "$id")"
  import -window root "$WORK/screen.png"
  convert "$WORK/screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$ARTIFACTS/preparing-dialog.png"
  screen=$(xdotool getdisplaygeometry)
  sw=${screen% *} sh=${screen#* }
  expect_eq "x, centred" $(((sw - WIDTH) / 2)) "$X"
  expect_eq "y, centred" $(((sh - HEIGHT) / 2)) "$Y"
  expect_eq "caption" "" "$(xdotool getwindowname "$id")"
  pixels() {  # pixels X Y W H COLOUR: how many pixels of the window's picture have this colour
    convert "$ARTIFACTS/preparing-dialog.png" -crop "$3x$4+$1+$2" +repage -format %c histogram:info:- |
      grep -i "#$5" | sed 's/^ *\([0-9]*\):.*/\1/' | head -n 1
  }
  icon_yellow=$(pixels 0 0 48 "$HEIGHT" FFFF00)
  icon_blue=$(pixels 0 0 48 "$HEIGHT" 0000FF)
  text_black=$(pixels 50 0 $((WIDTH - 50)) "$HEIGHT" 000000)
  [ "${icon_yellow:-0}" -gt 50 ] && [ "${icon_blue:-0}" -gt 20 ] || fail "no icon in the window (yellow ${icon_yellow:-0}, blue ${icon_blue:-0})"
  [ "${text_black:-0}" -gt 300 ] || fail "no text in the window (${text_black:-0} dark pixels)"
  # The demo setup's own window comes up after the hand-over; by then the preparing window is gone.
  demo=$(find_window "Kiv demo setup" 60) || fail "the demo setup's window did not appear"
  sleep 0.5
  gone=$(xdotool search --onlyvisible --classname '^setup\.exe$' 2>/dev/null || true)
  i=0
  while [ -n "$gone" ] && [ $i -lt 100 ]; do
    sleep 0.1; i=$((i + 1))
    gone=$(xdotool search --onlyvisible --classname '^setup\.exe$' 2>/dev/null || true)
  done
  expect_eq "preparing window after the launch" "" "$gone"
  import -window root "$ARTIFACTS/demo-window.png"
  xdotool windowfocus --sync "$demo" key --window "$demo" Return 2>/dev/null || xdotool key Return
  wait_run
  expect_no_box
  thread=$(grep -a 'Call user32.CreateDialogParamA' "$WORK/trace" | head -n 1 | cut -d: -f1)
  hidden=$(grep -a -n "^$thread:Call user32.ShowWindow([0-9a-f]*,00000000)" "$WORK/trace" | head -n 1 | cut -d: -f1)
  started=$(grep -a -n "^$thread:Call KERNEL32.WinExec" "$WORK/trace" | head -n 1 | cut -d: -f1)
  [ -n "$hidden" ] && [ "$hidden" -gt "$started" ] || fail "the window was not hidden after the start"
}

# Signed packages --------------------------------------------------------------------------

case_signed_package_runs_like_unsigned() {
  command -v osslsigncode >/dev/null || fail "osslsigncode is not installed"
  sample_package
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Kiv Setup test" \
    -keyout "$WORK/key.pem" -out "$WORK/cert.pem" 2>/dev/null
  osslsigncode sign -certs "$WORK/cert.pem" -key "$WORK/key.pem" -n "Kiv Setup test" \
    -in "$WORK/Setup.exe" -out "$WORK/signed.exe" >/dev/null
  osslsigncode verify -CAfile "$WORK/cert.pem" -in "$WORK/signed.exe" >"$WORK/verify.txt" 2>&1 ||
    fail "osslsigncode verify: $(tail -n 3 "$WORK/verify.txt")"
  "$KIVPACK" verify "$WORK/signed.exe" >/dev/null || fail "kivpack verify refuses the signed package"
  "$KIVPACK" inspect "$WORK/signed.exe" | grep -qi signed || fail "kivpack inspect does not say it is signed"

  mv "$WORK/Setup.exe" "$WORK/unsigned.exe"
  cp "$WORK/unsigned.exe" "$WORK/Setup.exe"
  run_package "$WORK/Setup.exe" $(demo_tail)
  unsigned_command=$(started_command)
  cp "$TEMP_DIR/_setup0.exe" "$WORK/unsigned-setup"
  rm -rf "$TEMP_DIR"/_setup*

  cp "$WORK/signed.exe" "$WORK/Setup.exe"
  run_package "$WORK/Setup.exe" $(demo_tail)
  expect_no_box
  expect_eq "command line" "$unsigned_command" "$(started_command)"
  cmp "$WORK/unsigned-setup" "$TEMP_DIR/_setup0.exe" || fail "the signed package's setup file differs"
  rm -rf "$TEMP_DIR"/_setup*

  # One flipped byte of the magic: damaged, signature or not.
  cp "$WORK/signed.exe" "$WORK/Setup.exe"
  offset=$(grep -a -b -o KivSetup "$WORK/Setup.exe" | tail -n 1 | cut -d: -f1)
  printf 'J' | dd of="$WORK/Setup.exe" bs=1 seek="$offset" conv=notrunc 2>/dev/null
  run_package_with_box "$WORK/Setup.exe" $(demo_tail)
  expect_box "Setup.exe is damaged."
  expect_no_setup_file
}

ALL_CASES="bare_stub_is_damaged flipped_magic_is_damaged dll_search_restricted_first
  setup_file_is_byte_exact all_blocks_absent blocks_of_4096_and_4097
  naming_takes_the_next_number naming_reuses_a_gap naming_skips_an_unreadable_name
  naming_temp_without_backslash block_past_the_end_leaves_nothing block_beyond_2gib_is_read
  all_400_names_taken
  demo_setup_receives_everything failed_start_is_reported temp_with_blank_is_quoted
  preparing_window_is_painted signed_package_runs_like_unsigned"

[ $# -gt 0 ] || set -- all
[ "$1" != all ] || set -- $ALL_CASES
[ "$1" != list ] || { echo $ALL_CASES; exit 0; }

wine_prefix
start_display
passed=0
for CASE in "$@"; do
  work_dir "$CASE"
  echo "case $CASE"
  ( "case_$CASE" ) || exit 1
  passed=$((passed + 1))
done
echo "$passed passed, 0 failed"
