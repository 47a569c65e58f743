#include "platform/dinput8/ScriptedInput.h"

#include <algorithm>
#include <string>

namespace platform::dinput8 {

namespace {

std::vector<ObjectDescription> defaultObjects(DWORD type) {
    std::vector<ObjectDescription> objects;
    switch (type & 0xFF) {
    case DI8DEVTYPE_MOUSE:
        objects = {{GUID_XAxis, DIMOFS_X, "X-axis"}, {GUID_YAxis, DIMOFS_Y, "Y-axis"}, {GUID_ZAxis, DIMOFS_Z, "Wheel"}};
        for (DWORD n = 0; n < 4; ++n)
            objects.push_back({GUID_Button, DIMOFS_BUTTON0 + n, "Button " + std::to_string(n)});
        break;
    case DI8DEVTYPE_KEYBOARD:
        for (DWORD code = 1; code < 256; ++code) objects.push_back({GUID_Key, code, "Key " + std::to_string(code)});
        break;
    default:
        objects = {{GUID_XAxis, DIJOFS_X, "X-axis"},
                   {GUID_YAxis, DIJOFS_Y, "Y-axis"},
                   {GUID_Slider, DIJOFS_SLIDER0, "Slider"},
                   {GUID_POV, DIJOFS_POV0, "Hat"}};
        for (DWORD n = 0; n < 32; ++n)
            objects.push_back({GUID_Button, DIJOFS_BUTTON0 + n, "Button " + std::to_string(n)});
        break;
    }
    return objects;
}

}  // namespace

bool isButtonOffset(DWORD type, DWORD offset) {
    switch (type & 0xFF) {
    case DI8DEVTYPE_KEYBOARD: return true;
    case DI8DEVTYPE_MOUSE: return offset >= DIMOFS_BUTTON0;
    default: return offset >= DIJOFS_BUTTON0;
    }
}

int ScriptedInput::addDevice(DWORD type, const std::string& name) {
    DeviceDescription d;
    d.type = type;
    d.instanceName = name;
    d.productName = name;
    d.objects = defaultObjects(type);
    return addDevice(std::move(d));
}

int ScriptedInput::addDevice(DeviceDescription description) {
    const int index = static_cast<int>(devices_.size());
    description.instance = GUID{0x5C000000u + static_cast<std::uint32_t>(index), 1, 1, {1}};
    description.product = GUID{0x5C100000u + (description.type & 0xFF), 1, 1, {2}};
    devices_.push_back({std::move(description), {}});
    return index;
}

void ScriptedInput::queue(int index, DWORD atMs, DWORD offset, DWORD data) {
    devices_.at(index).items.push_back({atMs, offset, data});
}

void ScriptedInput::fail(Call call, HRESULT result, int index, int times) {
    faults_.push_back({call, result, index, times});
}

std::vector<DeviceDescription> ScriptedInput::attachedDevices() {
    std::vector<DeviceDescription> list;
    for (const Entry& e : devices_) list.push_back(e.description);
    return list;
}

HRESULT ScriptedInput::fault(Call call, const DeviceDescription* device) {
    int index = -1;
    if (device)
        for (std::size_t i = 0; i < devices_.size(); ++i)
            if (devices_[i].description.instance == device->instance) index = static_cast<int>(i);
    for (Fault& f : faults_) {
        if (f.call != call || f.times == 0 || (f.index != -1 && f.index != index)) continue;
        if (f.times > 0) --f.times;
        return f.result;
    }
    return DI_OK;
}

void ScriptedInput::pump(DWORD nowMs) {
    for (Entry& e : devices_) {
        auto due = std::stable_partition(e.items.begin(), e.items.end(),
                                         [nowMs](const TimedItem& item) { return item.atMs <= nowMs; });
        const std::vector<TimedItem> ready(e.items.begin(), due);
        e.items.erase(e.items.begin(), due);
        for (const TimedItem& item : ready)
            post(e.description.instance, item.offset, item.data, isButtonOffset(e.description.type, item.offset));
    }
}

}  // namespace platform::dinput8
