// The scripted DirectInput backend, the default of unit tests: a list of
// attached devices, items timed on the environment's clock, injected
// failures of any call, and the window's focus lost and regained.
#pragma once

#include <map>
#include <utility>

#include "platform/dinput8/DInput8.h"

namespace platform::dinput8 {

class ScriptedInput final : public Backend {
public:
    // Adds an attached device; its instance GUID is made from the index.
    // Objects default to those of the type: a mouse has X, Y, the wheel and
    // four buttons, a keyboard the keys of its codes, a joystick X, Y, a
    // slider, a hat and 32 buttons. Returns the device's index.
    int addDevice(DWORD type, const std::string& name);
    int addDevice(DeviceDescription description);
    const DeviceDescription& device(int index) const { return devices_.at(index).description; }

    // Files an item of the device when the clock reaches atMs.
    void queue(int index, DWORD atMs, DWORD offset, DWORD data);
    // Key and button helpers: down or up at once (atMs 0).
    void press(int index, DWORD offset) { queue(index, 0, offset, kButtonDown); }
    void release(int index, DWORD offset) { queue(index, 0, offset, 0); }

    // The call answers result, times times (-1: always); device -1 means
    // every device, and the object's own calls.
    void fail(Call call, HRESULT result, int index = -1, int times = -1);

    std::vector<DeviceDescription> attachedDevices() override;
    HRESULT fault(Call call, const DeviceDescription* device) override;
    void pump(DWORD nowMs) override;

private:
    struct TimedItem {
        DWORD atMs = 0;
        DWORD offset = 0;
        DWORD data = 0;
    };
    struct Entry {
        DeviceDescription description;
        std::vector<TimedItem> items;
    };
    struct Fault {
        Call call;
        HRESULT result;
        int index;
        int times;
    };
    std::vector<Entry> devices_;
    std::vector<Fault> faults_;
};

// Whether an offset of a device type carries a button or a key.
bool isButtonOffset(DWORD type, DWORD offset);

}  // namespace platform::dinput8
