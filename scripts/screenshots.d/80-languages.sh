# The language dialog, then the main window and the dialog in German.
# The dialog is opened the way a person does: Tools > Language... by the menus' access keys
# (Alt+T, then L; in German Extras > Sprache..., Alt+X, then S).

open_language_dialog() { # open_language_dialog TITLE-REGEX MENU-KEY ITEM-KEY: prints the dialog's id, or nothing
  xdotool windowactivate --sync "$MAIN_WINDOW" 2>/dev/null || true
  xdotool key --window "$MAIN_WINDOW" "alt+$2"
  sleep 0.3
  xdotool key "$3"
  wait_window "$1" 5 2>/dev/null || true
}

quillo_start
dialog=$(open_language_dialog '^Select Language$' t l)
if [ -n "$dialog" ]; then
  shot language-dialog "$dialog"
  xdotool key --window "$dialog" Escape
else
  echo "screenshots: the main window has no Tools > Language... item yet; no picture of the language dialog" >&2
fi
quillo_stop

"$QUILLO_CLI" set General.LanguageFile=German >/dev/null
quillo_start
shot main-window-german "$MAIN_WINDOW"
dialog=$(open_language_dialog '^Sprache wählen$' x s)
if [ -n "$dialog" ]; then
  shot language-dialog-german "$dialog"
  xdotool key --window "$dialog" Escape
fi
quillo_stop
"$QUILLO_CLI" set General.LanguageFile= >/dev/null
