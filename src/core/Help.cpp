// The help seam.
#include "Help.h"

namespace {

class SilentHelp : public IHelp {
public:
    void ShowContents() override {}
    void ShowSearch() override {}
    void ShowHowToUseHelp() override {}
    void ShowTopic(int) override {}
};

IHelp*& Current() {
    static IHelp* current = nullptr;
    return current;
}

} // namespace

IHelp& Help() {
    static SilentHelp silent;
    return Current() ? *Current() : silent;
}

IHelp* SetHelp(IHelp* help) {
    IHelp* previous = Current();
    Current() = help;
    return previous;
}
