#include "render/QtGuard.h"

#include "platform/Exceptions.h"
#include "tests/gui/ScriptedDialogs.h"

#include <gtest/gtest.h>

#include <memory>

using namespace palkor;

namespace {

class ConnectGuardedTest : public ::testing::Test {
protected:
  palkor::testing::TScriptedDialogs Script;
  QObject Sender;
  void SetUp() override { SetDialogs(&Script); }
  void TearDown() override { SetDialogs(nullptr); }
};

} // namespace

TEST_F(ConnectGuardedTest, AHandlerTakesTheLeadingArgumentsItWantsAndItsFailureIsAnErrorBox) {
  QObject receiver;
  std::vector<std::string> names;
  int calls = 0;
  ConnectGuarded(&Sender, &QObject::objectNameChanged, &receiver,
                 [&](const QString& name) { names.push_back(name.toStdString()); });
  ConnectGuarded(&Sender, &QObject::objectNameChanged, &receiver, [&] {
    if (++calls == 2) throw Exception("second call refused");
  });
  // The next handler still runs after one fails, and the program goes on.
  ConnectGuarded(&Sender, &QObject::objectNameChanged, &receiver,
                 [&](const QString&) { names.push_back("after"); });
  Sender.setObjectName("one");
  Sender.setObjectName("two");
  EXPECT_EQ(names, (std::vector<std::string>{"one", "after", "two", "after"}));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(Script.Errors, std::vector<std::string>{"second call refused"});
}

TEST_F(ConnectGuardedTest, TheConnectionEndsWithItsReceiver) {
  auto receiver = std::make_unique<QObject>();
  int calls = 0;
  ConnectGuarded(&Sender, &QObject::objectNameChanged, receiver.get(), [&] { ++calls; });
  Sender.setObjectName("one");
  receiver.reset();
  Sender.setObjectName("two");
  EXPECT_EQ(calls, 1);
}
