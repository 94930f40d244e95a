#!/bin/sh
# Fails when an include points the wrong way: the core (common, storage,
# transport) reaching the texts, the headless front end, a window, the kit, the
# shell or Qt Widgets; the texts or the headless front end reaching a window, the
# kit, the shell or Qt Widgets; the kit reaching a window or the shell; a window
# folder reaching the shell or another window folder. Also fails when a core
# source holds Japanese in a literal (check-core-literals.pl).
# Usage: check-includes.sh SOURCE_ROOT   (the folder holding src/)
set -u
src="${1:?source root}/src"
[ -d "$src" ] || { echo "no $src" >&2; exit 2; }

windows="settings history compose addressbook emoticons"
failed=0

# $1 folder, $2 extended regular expression of forbidden include targets, $3 why
forbid() {
    [ -d "$src/$1" ] || return 0
    hits=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($2)" "$src/$1" \
        --include='*.h' --include='*.hpp' --include='*.cpp' || true)
    if [ -n "$hits" ]; then
        echo "$3:"
        echo "$hits" | sed "s#^$src/#  src/#"
        failed=1
    fi
}

widgets='QtWidgets|QtPrintSupport|QApplication|QWidget|QDialog|QMainWindow|QMessageBox|QLabel|QPushButton|QLineEdit|QTextEdit|QPlainTextEdit|QCheckBox|QComboBox|QListView|QTreeView|QTabWidget|QToolBar|QFileDialog|QPrintDialog|QPrinter'
win_re=$(echo "$windows" | tr ' ' '|')

for core in common storage transport; do
    forbid "$core" "(($win_re|ui|shell)/|($widgets)[>./\"])" "core folder $core includes a window, the kit, the shell or Qt Widgets"
    forbid "$core" "(texts|cli)/" "core folder $core includes the texts or a front end (it reports kinds, the front ends word them)"
done
forbid texts "(($win_re|ui|shell|cli)/|($widgets)[>./\"])" "the texts include a window, the kit, the shell, a front end or Qt Widgets"
forbid cli "(($win_re|ui|shell)/|($widgets)[>./\"])" "the headless front end includes a window, the kit, the shell or Qt Widgets"
forbid common "(storage|transport)/" "common includes a higher core folder"
forbid storage "transport/" "storage includes transport"
forbid ui "($win_re|shell)/" "the kit includes a window or the shell"
for w in $windows; do
    others=$(echo "$windows" | tr ' ' '\n' | grep -vx "$w" | tr '\n' '|' | sed 's/|$//')
    forbid "$w" "shell/" "window folder $w includes shell/"
    # A window folder's window-free parts may be used by another group; its windows may not.
    forbid "$w" "($others)/[A-Za-z]*Form\.h" "window folder $w includes another group's window"
done

if [ "$failed" -ne 0 ]; then
    echo "include rules broken (see docs/architecture.md)"
fi
perl "$(dirname "$0")/check-core-literals.pl" "${1}" || failed=1
[ "$failed" -eq 0 ] || exit 1
echo "include rules hold"
