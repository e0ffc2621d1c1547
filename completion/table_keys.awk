# The keys of a host table that a lookup can match, one a line, as the programs read them: the
# third field with "=" read as a space, less VARN_PREFIX ("# " in the shape of parse), each once.
# For bash (VARN_RAW unset) a key is kept when it starts with VARN_WORD and is printed
# shell-escaped, or inside the quote VARN_QUOTE that opens the word; zsh and fish quote and
# match keys themselves, so VARN_RAW=1 prints them as they are. The build pastes this program
# into the completion file of each shell inside single quotes, so its body holds none.
BEGIN {
  prefix = ENVIRON["VARN_PREFIX"]; word = ENVIRON["VARN_WORD"]; q = ENVIRON["VARN_QUOTE"]
  raw = ENVIRON["VARN_RAW"] != ""
  room = 39 - length(prefix)  # a longer key is never stored, so never matches
}
{
  sub(/\r$/, "")
  if (length($0) > 98) next  # read as several records: see varncheck
  key = $1 == "" ? $4 : $3  # a line that starts with separators has an empty $1
  if (key == "") next
  if (index(key, "=")) gsub(/=/, " ", key)
  if (prefix != "") {
    if (substr(key, 1, length(prefix)) != prefix) next
    key = substr(key, length(prefix) + 1)
  }
  if (key == "" || length(key) > room || key in seen) next
  seen[key]
  if (raw) {
    print key
    next
  }
  if (q != "" && substr(key, 1, length(word)) != word) next
  if (q == "\"") {
    gsub(/[\\"$`]/, "\\\\&", key)
    key = q key q
  } else if (q == "\047") {
    gsub(/\047/, "\047\\\\\047\047", key)
    key = q key q
  } else if (key ~ /[^A-Za-z0-9_.,:\/@%+-]/) {
    gsub(/[^A-Za-z0-9_.,:\/@%+-]/, "\\\\&", key)
  }
  if (q == "" && substr(key, 1, length(word)) != word) next
  print key
}
