#include "platform/Dialogs.h"

#include "platform/Memory.h"

#include <new>

#include "platform/Exceptions.h"

namespace palkor {

namespace {

// Until a program sets its own, every question is refused and errors go nowhere.
class TNoDialogs : public TDialogs {
public:
  TAnswer Ask(const std::string&, bool, bool) override { return TAnswer::No; }
  void ShowError(const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  bool InputBox(const std::string&, const std::string&, std::string&) override { return false; }
  bool ChooseColour(uint32_t&) override { return false; }
  bool OpenFile(const std::string&, const std::string&, std::string&) override { return false; }
  bool SaveFile(const std::string&, const std::string&, std::string&) override { return false; }
  bool ChooseFolder(const std::string&, std::string&) override { return false; }
  bool ChooseItem(const std::string&, const std::string&, const std::vector<std::string>&,
                  int&) override {
    return false;
  }
};

TDialogs* Current = nullptr;

} // namespace

TDialogs& Dialogs() {
  static TNoDialogs none;
  return Current ? *Current : none;
}

void SetDialogs(TDialogs* dialogs) {
  Current = dialogs;
}

void Guarded(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::bad_alloc&) {
    Dialogs().ShowError(OutOfMemoryText());
  } catch (const std::exception& e) {
    Dialogs().ShowError(e.what());
  }
}

} // namespace palkor
