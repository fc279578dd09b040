#pragma once

// Signal connections that run a command: the command's exception becomes an error box
// (Guarded) instead of escaping into Qt's event loop.
#include "platform/Dialogs.h"

#include <QObject>

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

namespace palkor {

namespace guard_detail {

// The number of the signal's leading arguments handler takes: all of them when it can,
// else as many from the front as it accepts (a handler of clicked(bool) may take none).
template <typename Handler, typename Tuple, size_t Count = std::tuple_size_v<Tuple>>
constexpr size_t LeadingArgumentCount() {
  constexpr bool takes = []<size_t... I>(std::index_sequence<I...>) {
    return std::is_invocable_v<Handler&, std::tuple_element_t<I, Tuple>...>;
  }
  (std::make_index_sequence<Count>());
  if constexpr (takes)
    return Count;
  else if constexpr (Count > 0)
    return LeadingArgumentCount<Handler, Tuple, Count - 1>();
  else
    static_assert(Count > 0, "the handler cannot be called with the signal's arguments");
}

template <typename Handler, typename... Args>
void CallWithLeading(Handler& handler, Args&... args) {
  using TArgs = std::tuple<Args&...>;
  TArgs all(args...);
  [&]<size_t... I>(std::index_sequence<I...>) {
    handler(std::get<I>(all)...);
  }
  (std::make_index_sequence<LeadingArgumentCount<Handler, TArgs>()>());
}

} // namespace guard_detail

// Connects signal of sender to handler, run inside Guarded for as long as receiver lives
// (receiver is the connection's context, as in QObject::connect). handler takes the
// signal's arguments, or only its leading ones, or none.
template <typename Sender, typename SignalClass, typename... Args, typename Handler>
QMetaObject::Connection ConnectGuarded(const Sender* sender, void (SignalClass::*signal)(Args...),
                                       const QObject* receiver, Handler handler) {
  static_assert(std::is_base_of_v<SignalClass, Sender>, "the signal is not the sender's");
  return QObject::connect(sender, signal, receiver, [handler = std::move(handler)](Args... args) {
    Guarded([&] { guard_detail::CallWithLeading(handler, args...); });
  });
}

} // namespace palkor
