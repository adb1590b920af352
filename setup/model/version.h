// Ordering of version texts such as "1.10.0" and "1.9.9".
#pragma once

#include <QStringView>
#include <compare>

namespace setup {

// Compares two version texts the way people read them: scanning both from the start, a run of
// ASCII digits in both is compared by its numeric value (so "1.10" > "1.9" and "2.0" > "1.99"),
// any other character by its UTF-16 code unit (case-sensitive), and the first difference
// decides. A text that runs out first is the smaller one ("1.2" < "1.2.0"). Digit runs of equal
// value compare equal whatever their leading zeros ("1.01" == "1.1"). Runs of any length are
// compared without converting them to a machine integer, so long runs cannot overflow.
std::strong_ordering compareVersions(QStringView a, QStringView b);

}  // namespace setup
