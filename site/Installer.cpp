#include "Installer.h"

#include <QMap>

namespace orvane::site {

namespace {

// The installer proper. @NAME@-style fields become single-quoted shell words;
// @ICON_DATA@ becomes printf lines that write the icon's bytes.
constexpr char Script[] = R"SH(#!/bin/sh
# Setup for @COMMENT_TITLE@, from the Halvex demonstration store.
# Installs a small demonstration program for the current user: the program,
# its icon and uninstaller under the user's data folder, a menu entry, and an
# uninstall entry registered with orvane-reg (named by ORVANE_REG, else found
# on PATH).
ID=@ID@
NAME=@NAME@
VERSION=@VERSION@
PUBLISHER=@PUBLISHER@
COMMENT=@DESCRIPTION@
ABOUT_URL=@ABOUT_URL@
ICON_NAME=@ICON_NAME@
MENU_CATEGORY=@MENU_CATEGORY@
KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\'$ID

say() { printf '%s\n' "$*"; }
fail() {
    printf '%s setup: %s\n' "$NAME" "$*" >&2
    exit 1
}

REG=
if [ -n "${ORVANE_REG:-}" ] && [ -f "$ORVANE_REG" ] && [ -x "$ORVANE_REG" ]; then
    REG=$ORVANE_REG
elif command -v orvane-reg >/dev/null 2>&1; then
    REG=$(command -v orvane-reg)
else
    fail "cannot register the program: the registry tool orvane-reg was not found (ORVANE_REG is ${ORVANE_REG:-not set} and orvane-reg is not on PATH)"
fi

[ -n "${HOME:-}" ] || fail "HOME is not set"
DATA=${XDG_DATA_HOME:-}
case $DATA in
/*) ;;
*) DATA=$HOME/.local/share ;; # unset, empty or relative: the default
esac
DIR=$DATA/orvane-demo/$ID
MENU=$DATA/applications
DESKTOP=$MENU/orvane-demo-$ID.desktop
PROGRAM=$DIR/$ID
ICON=$DIR/$ICON_NAME
UNINSTALLER=$DIR/uninstall.sh

# One single-quoted shell word.
quote() { printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"; }
# One double-quoted word as command lines are split: \ " $ and ` escaped.
dquote() { printf '"%s"' "$(printf '%s' "$1" | sed 's/[\\"$`]/\\&/g')"; }
# Values of a menu entry: backslashes doubled; Exec also doubles '%'.
desktop_value() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }
exec_value() { desktop_value "$(dquote "$1" | sed 's/%/%%/g')"; }

rollback() {
    rm -f "$DESKTOP"
    rm -rf "$DIR"
    rmdir "${DIR%/*}" 2>/dev/null
    "$REG" delete "$KEY" /f >/dev/null 2>&1
}
step_failed() {
    rollback
    fail "$@"
}

say "Installing $NAME $VERSION into $DIR"
mkdir -p "$DIR" "$MENU" || fail "cannot create $DIR and $MENU"

cat >"$PROGRAM" <<'ORVANE_DEMO_PROGRAM_END' || step_failed "cannot write $PROGRAM"
#!/bin/sh
# @COMMENT_TITLE@, a demonstration program from the Halvex store.
NAME=@NAME@
VERSION=@VERSION@
case ${1:-} in
--version)
    printf '%s %s\n' "$NAME" "$VERSION"
    exit 0
    ;;
esac
TEXT="$NAME $VERSION is installed and works. This demonstration program does nothing else."
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    if command -v zenity >/dev/null 2>&1; then
        exec zenity --info --no-markup --title="$NAME" --text="$TEXT"
    elif command -v kdialog >/dev/null 2>&1; then
        exec kdialog --title "$NAME" --msgbox "$TEXT"
    elif command -v xmessage >/dev/null 2>&1; then
        exec xmessage -center "$TEXT"
    fi
fi
printf '%s\n' "$TEXT"
ORVANE_DEMO_PROGRAM_END

{
@ICON_DATA@} >"$ICON" || step_failed "cannot write $ICON"

{
    printf '#!/bin/sh\n# Removes %s %s, installed from the Halvex demonstration store.\n' "$NAME" "$VERSION"
    printf 'NAME=%s\n' "$(quote "$NAME")"
    printf 'DIR=%s\n' "$(quote "$DIR")"
    printf 'DESKTOP=%s\n' "$(quote "$DESKTOP")"
    printf 'KEY=%s\n' "$(quote "$KEY")"
    printf 'INSTALLED_REG=%s\n' "$(quote "$REG")"
    cat <<'ORVANE_DEMO_UNINSTALLER_END'
REG=
for tool in "${ORVANE_REG:-}" "$INSTALLED_REG" "$(command -v orvane-reg 2>/dev/null)"; do
    if [ -n "$tool" ] && [ -f "$tool" ] && [ -x "$tool" ]; then
        REG=$tool
        break
    fi
done
if [ -z "$REG" ]; then
    printf '%s uninstall: the registry tool orvane-reg was not found; nothing was removed\n' "$NAME" >&2
    exit 1
fi
printf 'Removing %s\n' "$NAME"
rm -f "$DESKTOP"
rm -rf "$DIR"
rmdir "${DIR%/*}" 2>/dev/null
if ! "$REG" delete "$KEY" /f >/dev/null; then
    printf '%s uninstall: could not remove the uninstall entry %s\n' "$NAME" "$KEY" >&2
    exit 1
fi
printf '%s was removed.\n' "$NAME"
exit 0
ORVANE_DEMO_UNINSTALLER_END
} >"$UNINSTALLER" || step_failed "cannot write $UNINSTALLER"
chmod 755 "$PROGRAM" "$UNINSTALLER" || step_failed "cannot make $PROGRAM executable"

{
    printf '[Desktop Entry]\nType=Application\n'
    printf 'Name=%s\n' "$NAME"
    printf 'Comment=%s\n' "$COMMENT"
    printf 'Exec=%s\n' "$(exec_value "$PROGRAM")"
    printf 'Icon=%s\n' "$(desktop_value "$ICON")"
    printf 'Terminal=false\nCategories=%s;\n' "$MENU_CATEGORY"
} >"$DESKTOP" || step_failed "cannot write $DESKTOP"

reg_add() {
    "$REG" add "$KEY" /v "$1" /t "$2" /d "$3" /f >/dev/null || step_failed "could not register $1 with $REG"
}
SIZE_KB=$(du -sk "$DIR" | cut -f1)
reg_add DisplayName REG_SZ "$NAME"
reg_add DisplayVersion REG_SZ "$VERSION"
reg_add Publisher REG_SZ "$PUBLISHER"
reg_add InstallLocation REG_SZ "$DIR"
reg_add DisplayIcon REG_SZ "$ICON"
reg_add EstimatedSize REG_DWORD "${SIZE_KB:-0}"
reg_add InstallDate REG_SZ "$(date +%Y%m%d)"
reg_add UninstallString REG_SZ "$(dquote "$UNINSTALLER")"
reg_add URLInfoAbout REG_SZ "$ABOUT_URL"

say "$NAME $VERSION is installed: start it from the applications menu or as $PROGRAM"
exit 0
)SH";

QByteArray ShellWord(const QString &Text)
{
    QByteArray Utf8 = Text.toUtf8();
    Utf8.replace("'", "'\\''");
    return '\'' + Utf8 + '\'';
}

// printf lines that write Bytes: letters and digits as they are, every other
// byte as a three-digit octal escape (also '%', so no conversion can start).
QByteArray PrintfLines(const QByteArray &Bytes)
{
    QByteArray Out;
    constexpr int PerLine = 48;
    for (qsizetype Pos = 0; Pos < Bytes.size(); Pos += PerLine) {
        Out += "    printf '";
        for (const char C : Bytes.mid(Pos, PerLine)) {
            const auto B = static_cast<unsigned char>(C);
            if ((B >= '0' && B <= '9') || (B >= 'A' && B <= 'Z') || (B >= 'a' && B <= 'z')) {
                Out += C;
            } else {
                Out += '\\';
                Out += char('0' + (B >> 6));
                Out += char('0' + ((B >> 3) & 7));
                Out += char('0' + (B & 7));
            }
        }
        Out += "'\n";
    }
    return Out;
}

QString MenuCategory(const QString &Category)
{
    static const QMap<QString, QString> Map {
        {"office", "Office"},           {"media", "AudioVideo"}, {"internet", "Network"},
        {"security", "System"},         {"system", "Utility"},   {"graphics", "Graphics"},
        {"development", "Development"}, {"games", "Game"},
    };
    return Map.value(Category, QStringLiteral("Utility"));
}

} // namespace

qint64 InstallerSizeFor(int Index)
{
    return 200 * 1024 + qint64(Index % 8) * 40 * 1024;
}

QString UninstallKey(const Program &P)
{
    return QStringLiteral("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + P.Id;
}

QByteArray MakeInstaller(const Program &P, const QString &Base)
{
    QByteArray Text = Script;
    const QString Title = P.Title + ' ' + P.Version;
    Text.replace("@COMMENT_TITLE@", Title.toUtf8());
    Text.replace("@ID@", ShellWord(P.Id));
    Text.replace("@NAME@", ShellWord(P.Title));
    Text.replace("@VERSION@", ShellWord(P.Version));
    Text.replace("@PUBLISHER@", ShellWord(P.Publisher));
    Text.replace("@DESCRIPTION@", ShellWord(P.Description));
    Text.replace("@ABOUT_URL@", ShellWord(Base + "/index.php/soft_api#" + P.Id));
    Text.replace("@ICON_NAME@", ShellWord(P.Icon));
    Text.replace("@MENU_CATEGORY@", ShellWord(MenuCategory(P.Category)));
    Text.replace("@ICON_DATA@", PrintfLines(P.IconBytes));

    // Padding after the exit line; the shell never reads it.
    const QByteArray Line = "# " + QByteArray(61, '.') + '\n';
    while (Text.size() + Line.size() <= P.InstallerSize)
        Text += Line;
    if (Text.size() < P.InstallerSize)
        Text += QByteArray(P.InstallerSize - Text.size() - 1, '#') + '\n';
    return Text;
}

} // namespace orvane::site
