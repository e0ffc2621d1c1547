#!/usr/bin/env bash
# Drives the completion of bash (with bash-completion), zsh (compinit) and fish as a user does:
# each row starts the shell in a fresh tmux pane, types the line, presses Tab where it says
# <Tab>, and reads the screen. The generated files are laid out as installed, under a private
# HOME and XDG folders, with stubs named like the programs on a fixed PATH.
#   completion_shells_test.sh GENERATED_DIR HOME_TABLE CUSTOM_TABLE PARSE_TABLE
set -u
generated=$1 home=$2 custom=$3 hosts=$4
if ! command -v tmux >/dev/null; then
  echo "SKIP: tmux is not installed (apt-get install tmux)"
  exit 77
fi
tmp=$(mktemp -d)
sock=$tmp/tmux.sock
trap 'tmux -S "$sock" kill-server 2>/dev/null; rm -rf "$tmp"' EXIT
skipped=

# The fixture tables: keys of each table are told apart by their names.
mkdir -p "$(dirname "$home")" "$(dirname "$custom")" "$(dirname "$hosts")"
printf 'w1\tFront\tweb01\t10.0.0.5\tdmz\nw2\tFront\tweb02\nd\tData\tkey=eq\ng\tGate\tgate:1\n' >"$home"
printf 'c1\tCustom\tcustom-key\n' >"$custom"
printf 'h\tx\t# 42\nh\ty\t# pkey7\n' >"$hosts"

# The files where each shell looks for them once installed, and stubs for the programs.
share=$tmp/share work=$tmp/work
mkdir -p "$share/bash-completion/completions" "$share/zsh/vendor-completions" \
  "$share/fish/vendor_completions.d" "$tmp/bin" "$work/libexec/fennoKit" "$tmp/home" \
  "$tmp/config/fish"
for name in varnparse parse varnquery varncheck; do
  cp "$generated/varnparse" "$share/bash-completion/completions/$name"
  cp "$generated/varnparse.fish" "$share/fish/vendor_completions.d/$name.fish"
  printf '#!/bin/sh\n' >"$tmp/bin/$name"
done
cp "$generated/_varnparse" "$share/zsh/vendor-completions/_varnparse"
cp "$tmp/bin/varnparse" "$work/libexec/fennoKit/varnparse"
chmod +x "$tmp/bin"/* "$work/libexec/fennoKit/varnparse"
printf 'e\tE\textra-key\tx\ty\n' >"$work/extra-table"

printf '%s\n' "PS1='PROMPT> '" 'source /usr/share/bash-completion/bash_completion' >"$tmp/bashrc"
printf '%s\n' "PS1='PROMPT> '" "fpath=('$share/zsh/vendor-completions' \$fpath)" \
  'autoload -Uz compinit && compinit -u -d "$ZDOTDIR/.zcompdump"' >"$tmp/home/.zshrc"
printf '%s\n' 'set -g fish_greeting' "function fish_prompt; echo -n 'PROMPT> '; end" \
  >"$tmp/config/fish/config.fish"
declare -A start=(
  [bash]="bash --noprofile --rcfile '$tmp/bashrc' -i"
  [zsh]="zsh --no-globalrcs -i"
  [fish]="fish -i"
)
environment=(env -i "HOME=$tmp/home" "ZDOTDIR=$tmp/home" "XDG_CONFIG_HOME=$tmp/config"
  "XDG_DATA_HOME=$tmp/data" "XDG_CACHE_HOME=$tmp/cache" "XDG_DATA_DIRS=$share" TERM=screen
  LANG=C.UTF-8 "PATH=$tmp/bin:/usr/bin:/bin")

pane() { tmux -S "$sock" -f /dev/null "$@"; }
# The rows of the three shells share one server. It quits when its last session ends, and a
# row that starts its session just then fails with "server exited unexpectedly": a session that
# lives through the whole run keeps the server up.
pane new-session -d -s keep-server-up "sleep infinity"

# Succeeds when the screen meets every expectation: WORD is on the screen as a whole word,
# !WORD is not, =LINE is the text left of the cursor after the prompt.
meets() {
  local screen=$1 at=$2 want word
  for want in $3; do
    want=${want//_/ }
    word=$(sed 's/[][\\.*^$+?(){}|]/\\&/g' <<<"${want#!}")
    word="(^|[[:space:]])$word([[:space:]]|\$)"
    case $want in
      !*) grep -qE "$word" <<<"$screen" && return 1 ;;
      =*) [[ $at == "PROMPT> ${want#=}" ]] || return 1 ;;
      *) grep -qE "$word" <<<"$screen" || return 1 ;;
    esac
  done
  return 0
}

# row SHELL TYPED EXPECTED: "_" in TYPED and EXPECTED stands for a space.
row() {
  local shell=$1 typed=${2//_/ } want=$3 screen= at= cursor i piece
  command -v "$shell" >/dev/null || return 0
  local row=row-$shell
  pane new-session -d -s "$row" -x 150 -y 30 -c "$work" "${environment[*]@Q} ${start[$shell]}"
  for ((i = 0; i < 100; i++)); do  # the prompt within 10 seconds
    pane capture-pane -p -t "$row" 2>/dev/null | grep -q '^PROMPT>' && break
    sleep 0.1
  done
  while [[ -n $typed ]]; do
    piece=${typed%%<Tab>*}
    [[ -n $piece ]] && pane send-keys -t "$row" -l "$piece"
    [[ $typed == *"<Tab>"* ]] || break
    sleep 0.2  # a Tab right after the text may reach the shell before it
    pane send-keys -t "$row" Tab
    typed=${typed#*<Tab>}
  done
  for ((i = 0; i < 50; i++)); do  # the offers within 5 seconds
    sleep 0.1
    screen=$(pane capture-pane -p -t "$row")
    cursor=$(pane display -p -t "$row" '#{cursor_x} #{cursor_y}')
    # The screen lost the spaces that end a line: the cursor shows them.
    printf -v at '%-*s' "${cursor% *}" "$(sed -n "$((${cursor#* } + 1))p" <<<"$screen")"
    at=${at:0:${cursor% *}}
    meets "$screen" "$at" "$want" && break
  done
  pane kill-session -t "$row"
  if meets "$screen" "$at" "$want"; then
    echo "PASS: $shell: [$2]"
  else
    printf 'FAIL: %s: [%s] wants [%s]; the screen:\n%s\n' "$shell" "$2" "$3" "$(grep . <<<"$screen")"
  fi
}

rows=$(cat <<'ROWS'
# shell typed (_ a space) expected on the screen (!absent, =the line left of the cursor)
bash varnquery_--table=<Tab><Tab>                home custom parse extra-table !web01
bash varnquery_--table_<Tab><Tab>              home custom parse extra-table !web01
bash varnquery_--table=parse_2_<Tab><Tab>        42 pkey7 !web01
bash varnquery_--table_parse_2_<Tab><Tab>        42 pkey7 !web01
bash varnquery_--table=custom_L_<Tab>            =varnquery_--table=custom_L_custom-key_
bash varnquery_--ta<Tab>                         =varnquery_--table=
bash varnquery_--table=ext<Tab>                  =varnquery_--table=extra-table_
bash varnquery_--table=extra-table_1_<Tab>       =varnquery_--table=extra-table_1_extra-key_
bash varnquery_-<Tab><Tab>                       --parse --status --zero --version
bash varnquery_2_<Tab><Tab>                      web01 web02 key\_eq gate:1
bash varnquery_2_gate:<Tab>                      =varnquery_2_gate:1_
bash varnparse_<Tab><Tab>                        web01 gate:1 !42
bash varnparse_web01_<Tab><Tab>                  L 1 4
bash parse_<Tab><Tab>                            42 pkey7 !web01
bash ./libexec/fennoKit/varnparse_<Tab>          =./libexec/fennoKit/varnparse_custom-key_
bash varncheck_--<Tab><Tab>                      --parse --all --help
bash varncheck_ext<Tab>                          =varncheck_extra-table_
zsh varnquery_--table=<Tab>                      home custom parse extra-table !web01
zsh varnquery_--table_<Tab>                    home custom parse extra-table !web01
zsh varnquery_--table=parse_2_<Tab>              42 pkey7 !web01
zsh varnquery_--table_parse_2_<Tab>              42 pkey7 !web01
zsh varnquery_--table=extra-table_1_<Tab>       =varnquery_--table=extra-table_1_extra-key_
zsh varnquery_--table=custom_L_<Tab>             =varnquery_--table=custom_L_custom-key_
zsh varnquery_--ta<Tab>                          =varnquery_--table=
zsh varnquery_-<Tab>                             --parse --status --zero --version
zsh varnquery_2_<Tab>                            web01 web02 key\_eq gate:1
zsh varnparse_<Tab>                              web01 gate:1 !42
zsh varnparse_web01_<Tab>                        L 1 4
zsh parse_<Tab>                                  42 pkey7 !web01
zsh ./libexec/fennoKit/varnparse_<Tab>           =./libexec/fennoKit/varnparse_custom-key_
zsh varncheck_--<Tab>                            --parse --all --help
zsh varncheck_ext<Tab>                           =varncheck_extra-table_
fish varnquery_--table=<Tab>                     --table=home --table=custom --table=parse --table=extra-table
fish varnquery_--table_<Tab>                   home custom parse extra-table !web01
fish varnquery_--table=parse_2_<Tab>             42 pkey7 !web01
fish varnquery_--table_parse_2_<Tab>             42 pkey7 !web01
fish varnquery_--table=custom_L_<Tab>            =varnquery_--table=custom_L_custom-key_
fish varnquery_-<Tab>                            --parse --status --zero --version
fish varnquery_2_<Tab>                           web01 web02 key_eq gate:1
fish varnparse_<Tab>                             web01 gate:1 !42
fish varnparse_web01_<Tab>                       L 1 4
fish parse_<Tab>                                 42 pkey7 !web01
fish ./libexec/fennoKit/varnparse_<Tab>          =./libexec/fennoKit/varnparse_custom-key_
fish varncheck_--<Tab>                           --parse --all --help
fish varncheck_ext<Tab>                          =varncheck_extra-table_
ROWS
)

# The shells run side by side, each its own rows in order; each tells its counts last.
for shell in bash zsh fish; do
  while read -r shell typed want; do
    row "$shell" "$typed" "$want"
  done < <(grep "^$shell " <<<"$rows") >"$tmp/$shell.out" 2>&1 &
done
wait
for shell in bash zsh fish; do
  command -v "$shell" >/dev/null || skipped+=" $shell"
done
cat "$tmp"/*.out | grep -v '^PASS: '
passed=$(cat "$tmp"/*.out | grep -c '^PASS: ')
failed=$(cat "$tmp"/*.out | grep -c '^FAIL: ')
[[ -n $skipped ]] && echo "SKIP: no$skipped here (apt-get install$skipped): its rows did not run"
echo "completion in the shells: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
