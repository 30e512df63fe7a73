#pragma once

#include <compare>
#include <string_view>

// The ordering of names in every listing: letters compared without regard to case, runs of digits
// by their numeric value ("file2" before "file10"), accents and other letters by the Unicode root
// collation ("C" < "Ç" < "D"). Names that differ only in case compare equivalent, so a stable sort
// keeps them in the order they were delivered. The same for every user and every process locale.
//
// Safe from any thread. Ill-formed UTF-8 never fails: each ill-formed subpart sorts as U+FFFD.
std::weak_ordering localizedStandardCompare(std::string_view a, std::string_view b);

// `a` sorts before `b`: a strict weak ordering for std::sort and std::stable_sort.
bool localizedStandardLess(std::string_view a, std::string_view b);
