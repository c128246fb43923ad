#pragma once
#include <QString>
#include <QStringList>

namespace tevrin {

// A small INI reader and writer with the behaviour of the Windows private
// profile functions, so MyIni.ini files move freely between the two.
//
// Layout: "[Section]" header lines, "key=value" lines below them. Section and
// key names are matched without regard to case, and the first match wins (a
// repeated section or key is never reached). Lines whose first non-blank
// character is ';' or '#' are comments; lines before the first header belong
// to no section.
//
// Values: the text after the first '=' up to the end of the line, with blanks
// (spaces, tabs) around it removed; then one pair of matching quotes around
// the whole value ("..." or '...') is removed. The writer quotes a value that
// has blanks at either end or is itself wrapped in matching quotes, so every
// value without a line break reads back exactly as written.
//
// Encoding: a file that begins with a UTF-8 byte-order mark is UTF-8;
// anything else is Windows-1251. Lines may end in CR LF or LF.

// A profile file read once, for reading several values from it.
class ProfileFile {
 public:
  explicit ProfileFile(const QString& path);
  // As GetPrivateProfileString below, from the file as it was when read.
  QString value(const QString& section, const QString& key, const QString& defaultValue) const;

 private:
  bool readable_ = false;
  QStringList lines_;  // decoded, without their line ends
};

// The value of `key` in `section`; `defaultValue` when the file, the section
// or the key is missing or the file cannot be read. Reads the file each time.
QString GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                                const QString& path);

// Sets `key` in `section` to `value`.
// - An existing key (first match) has only the text after its '=' replaced;
//   every other byte of the file stays as it was.
// - A new key goes after the last key line of its section (before the blank
//   and comment lines that end the section), a new section at the end of the
//   file. New lines end in CR LF.
// - A new file is Windows-1251 without a byte-order mark; a UTF-8 file keeps
//   its mark and stays UTF-8. A value that Windows-1251 cannot hold turns the
//   whole file into UTF-8 with a mark (its text otherwise unchanged), so no
//   character is replaced by '?'.
// - The file is replaced atomically (ReplacingFile: a link at `path` is
//   replaced, never followed): a failed call leaves it as it was. Returns
//   false when the file cannot be read or written, and for names and values
//   a line cannot hold: an empty or ']'-holding section, an empty key,
//   a key with '=' or starting with '[', ';' or '#', any line break.
bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& path);

// Integer form of a profile value: an optionally signed decimal, or a
// hexadecimal number after the prefix 0x, 0X or $ (up to 8 digits, taken as
// the 32 bits of the result). Blanks around the text are ignored. Anything
// else, an empty text and a decimal outside int yield `fallback`.
int ProfileInt(const QString& text, int fallback);

}  // namespace tevrin
