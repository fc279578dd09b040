// The formatting library's compiled part, built into the program rather than loaded
// from a shared library at every start: the command-line program then needs no shared
// C++ library at all. These are the definitions and the instantiations for char that
// the library's headers declare as compiled elsewhere.
#include <fmt/format-inl.h>

FMT_BEGIN_NAMESPACE
namespace detail {

template FMT_API auto dragonbox::to_decimal(float x) noexcept -> dragonbox::decimal_fp<float>;
template FMT_API auto dragonbox::to_decimal(double x) noexcept -> dragonbox::decimal_fp<double>;
template FMT_API auto thousands_sep_impl(locale_ref) -> thousands_sep_result<char>;
template FMT_API auto decimal_point_impl(locale_ref) -> char;

} // namespace detail
FMT_END_NAMESPACE
