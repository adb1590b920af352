#include "setup/model/version.h"

namespace setup {
namespace {

bool isDigit(QChar c) {
  return c >= u'0' && c <= u'9';
}

// Length of the digit run starting at `from`.
qsizetype digitRunEnd(QStringView s, qsizetype from) {
  qsizetype end = from;
  while (end < s.size() && isDigit(s[end])) ++end;
  return end;
}

// Compares two runs of ASCII digits by value: without leading zeros the longer run is the
// larger number, and runs of equal length compare like their text.
std::strong_ordering compareDigitRuns(QStringView a, QStringView b) {
  auto stripZeros = [](QStringView run) {
    qsizetype i = 0;
    while (i < run.size() && run[i] == u'0') ++i;
    return run.mid(i);
  };
  a = stripZeros(a);
  b = stripZeros(b);
  if (a.size() != b.size()) return a.size() <=> b.size();
  for (qsizetype i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return a[i].unicode() <=> b[i].unicode();
  }
  return std::strong_ordering::equal;
}

}  // namespace

std::strong_ordering compareVersions(QStringView a, QStringView b) {
  qsizetype i = 0;
  qsizetype j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      const qsizetype aEnd = digitRunEnd(a, i);
      const qsizetype bEnd = digitRunEnd(b, j);
      const auto order = compareDigitRuns(a.mid(i, aEnd - i), b.mid(j, bEnd - j));
      if (order != 0) return order;
      i = aEnd;
      j = bEnd;
      continue;
    }
    if (a[i] != b[j]) return a[i].unicode() <=> b[j].unicode();
    ++i;
    ++j;
  }
  // The text with characters left over is the larger one.
  const bool aLeft = i < a.size();
  const bool bLeft = j < b.size();
  return aLeft <=> bLeft;
}

}  // namespace setup
