#pragma once

// Signal connections whose handlers run commands: an exception a handler throws is shown
// in an error box, as every command's is, instead of escaping into Qt's event loop.
#include "platform/Dialogs.h"

#include <QObject>

#include <type_traits>
#include <utility>

namespace palkor {

// Connects signal of sender to handler, run in context's thread and dropped with context.
// The handler takes the signal's arguments, or none.
template <typename TSender, typename TSignal, typename THandler>
QMetaObject::Connection ConnectGuarded(TSender* sender, TSignal signal, const QObject* context,
                                       THandler handler) {
  return QObject::connect(sender, signal, context,
                          [handler = std::move(handler)](const auto&... arguments) mutable {
                            Guarded([&] {
                              if constexpr (std::is_invocable_v<THandler&, decltype(arguments)...>)
                                handler(arguments...);
                              else
                                handler();
                            });
                          });
}

} // namespace palkor
