#pragma once
// The page choice of the Save As and Extract Images dialog, without widgets: the three page
// modes, which values the page fields accept, the check before the dialog may close and the
// 0-based pages it gives. Pages are counted by their place in the document (1-based in the
// fields), never by their labels.

#include <QString>

class ExportPageRange {
 public:
  enum Mode : int { AllPages = 0, CurrentPage = 1, PageRange = 2 };

  struct Pages {
    qint64 start = 0;  // 0-based, both included
    qint64 end = -1;
    bool operator==(const Pages&) const = default;
  };

  // What the check at OK found: whether the pages may be exported, and the fields' texts after
  // it (a start past the last page becomes "1", an end past it the page count).
  struct Check {
    bool ok = false;
    QString startText;
    QString endText;
  };

  // The pages of a mode from the fields' values (1-based).
  static Pages savePages(int mode, qint64 startField, qint64 endField, qint64 countpage);
  // Whether a field may take the value v; in a range, the start may not pass the end and the
  // end may not come before the start.
  static bool startCanSet(qint64 v, int mode, qint64 endField, qint64 countpage);
  static bool endCanSet(qint64 v, int mode, qint64 startField, qint64 countpage);
  // Digits only, or empty (a field being typed).
  static bool isDigits(const QString& text);
  // The check at OK: the fields a mode uses must hold 1 <= start <= end <= countpage.
  static Check check(int mode, const QString& startText, const QString& endText, qint64 countpage);
};
