#include "platform/dinput8/DInput8.h"
#include "platform/dinput8/ScriptedInput.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <string>
#include <thread>

namespace platform::dinput8 {

namespace {

constexpr GUID guid(std::uint32_t a, std::uint16_t b, std::uint16_t c) {
    return GUID{a, b, c, {0xA0, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
}

}  // namespace

// The layer's own fixed GUIDs: only their identity matters.
const GUID GUID_XAxis = guid(0xA36D02E0, 0xC9F3, 0x11CF);
const GUID GUID_YAxis = guid(0xA36D02E1, 0xC9F3, 0x11CF);
const GUID GUID_ZAxis = guid(0xA36D02E2, 0xC9F3, 0x11CF);
const GUID GUID_RxAxis = guid(0xA36D02F4, 0xC9F3, 0x11CF);
const GUID GUID_RyAxis = guid(0xA36D02F5, 0xC9F3, 0x11CF);
const GUID GUID_RzAxis = guid(0xA36D02E3, 0xC9F3, 0x11CF);
const GUID GUID_Slider = guid(0xA36D02E4, 0xC9F3, 0x11CF);
const GUID GUID_Button = guid(0xA36D02F0, 0xC9F3, 0x11CF);
const GUID GUID_Key = guid(0x55728220, 0xD33C, 0x11CF);
const GUID GUID_POV = guid(0xA36D02F2, 0xC9F3, 0x11CF);
const GUID IID_IDirectInput8A = guid(0xBF798030, 0x483A, 0x4DA2);

const DIDATAFORMAT c_dfDIMouse = {24, 16, DIDF_RELAXIS, 16, 7};
const DIDATAFORMAT c_dfDIKeyboard = {24, 16, 0, 256, 256};
const DIDATAFORMAT c_dfDIJoystick = {24, 16, DIDF_ABSAXIS, 80, 44};

namespace {

// Until a backend is installed, a scripted keyboard and mouse that report
// nothing unless a test scripts them.
Environment& currentEnvironment() {
    static Environment env = [] {
        Environment e;
        auto scripted = std::make_shared<ScriptedInput>();
        scripted->addDevice(DI8DEVTYPE_KEYBOARD, "Keyboard");
        scripted->addDevice(DI8DEVTYPE_MOUSE, "Mouse");
        e.backend = std::move(scripted);
        return e;
    }();
    return env;
}

class Device;

struct Registry {
    std::vector<Device*> open;  // every device interface not released
    bool focused = true;        // a window that never reported focus counts as focused
    DWORD sequence = 0;
};

Registry& registry() {
    static Registry r;
    return r;
}

bool sameFormat(const DIDATAFORMAT& a, const DIDATAFORMAT& b) {
    return a.dwFlags == b.dwFlags && a.dwDataSize == b.dwDataSize && a.dwNumObjs == b.dwNumObjs;
}

class Device final : public IDirectInputDevice8A {
public:
    Device(std::shared_ptr<Backend> backend, DeviceDescription description)
        : backend_(std::move(backend)), description_(std::move(description)) {
        registry().open.push_back(this);
        backend_->deviceOpened(description_);
    }

    const DeviceDescription& description() const { return description_; }

    HRESULT GetCapabilities(DIDEVCAPS* caps) override {
        if (!caps || caps->dwSize != sizeof(DIDEVCAPS)) return DIERR_INVALIDPARAM;
        if (const HRESULT hr = backend_->fault(Call::GetCapabilities, &description_); hr != DI_OK) return hr;
        *caps = DIDEVCAPS{};
        caps->dwFlags = 1;  // attached
        caps->dwDevType = description_.type;
        for (const ObjectDescription& object : description_.objects) {
            if (object.type == GUID_Button || object.type == GUID_Key)
                ++caps->dwButtons;
            else if (object.type == GUID_POV)
                ++caps->dwPOVs;
            else
                ++caps->dwAxes;
        }
        return DI_OK;
    }

    HRESULT EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKA callback, void* ref, DWORD) override {
        if (!callback) return DIERR_INVALIDPARAM;
        if (const HRESULT hr = backend_->fault(Call::EnumObjects, &description_); hr != DI_OK) return hr;
        for (const ObjectDescription& object : description_.objects) {
            DIDEVICEOBJECTINSTANCEA instance;
            instance.guidType = object.type;
            instance.dwOfs = object.offset;
            std::strncpy(instance.tszName, object.name.c_str(), sizeof(instance.tszName) - 1);
            if (callback(&instance, ref) == DIENUM_STOP) break;
        }
        return DI_OK;
    }

    HRESULT SetCooperativeLevel(void*, DWORD flags) override {
        const bool exclusive = (flags & DISCL_EXCLUSIVE) != 0, shared = (flags & DISCL_NONEXCLUSIVE) != 0;
        const bool foreground = (flags & DISCL_FOREGROUND) != 0, background = (flags & DISCL_BACKGROUND) != 0;
        if (exclusive == shared || foreground == background) return DIERR_INVALIDPARAM;
        if (acquired_) return DIERR_ACQUIRED;
        if (const HRESULT hr = backend_->fault(Call::SetCooperativeLevel, &description_); hr != DI_OK) return hr;
        cooperative_ = flags;
        return DI_OK;
    }

    HRESULT SetDataFormat(const DIDATAFORMAT* format) override {
        if (!format) return DIERR_INVALIDPARAM;
        if (acquired_) return DIERR_ACQUIRED;
        if (const HRESULT hr = backend_->fault(Call::SetDataFormat, &description_); hr != DI_OK) return hr;
        if (!sameFormat(*format, c_dfDIMouse) && !sameFormat(*format, c_dfDIKeyboard) &&
            !sameFormat(*format, c_dfDIJoystick))
            return DIERR_INVALIDPARAM;
        format_ = *format;
        hasFormat_ = true;
        return DI_OK;
    }

    HRESULT SetProperty(DWORD property, const DIPROPHEADER* header) override {
        if (!header || property != DIPROP_BUFFERSIZE || header->dwSize != sizeof(DIPROPDWORD) ||
            header->dwHeaderSize != sizeof(DIPROPHEADER) || header->dwHow != DIPH_DEVICE || header->dwObj != 0)
            return DIERR_INVALIDPARAM;
        if (acquired_) return DIERR_ACQUIRED;
        if (const HRESULT hr = backend_->fault(Call::SetProperty, &description_); hr != DI_OK) return hr;
        bufferSize_ = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
        buffer_.clear();
        return DI_OK;
    }

    HRESULT Acquire() override {
        if (!hasFormat_) return DIERR_INVALIDPARAM;
        if ((cooperative_ & DISCL_FOREGROUND) && !registry().focused) return DIERR_OTHERAPPHASPRIO;
        if (const HRESULT hr = backend_->fault(Call::Acquire, &description_); hr != DI_OK) return hr;
        lost_ = false;
        if (acquired_) return DI_NOEFFECT;
        acquired_ = true;
        backend_->acquisitionChanged(description_, cooperative_, true);
        return DI_OK;
    }

    HRESULT Unacquire() override {
        if (!acquired_) return DI_NOEFFECT;
        acquired_ = false;
        backend_->acquisitionChanged(description_, cooperative_, false);
        return DI_OK;
    }

    HRESULT Poll() override {
        if (const HRESULT hr = backend_->fault(Call::Poll, &description_); hr != DI_OK) return hr;
        if (!acquired_) return lost_ ? DIERR_INPUTLOST : DIERR_NOTACQUIRED;
        // Devices without polling answer DI_NOEFFECT.
        return DI_NOEFFECT;
    }

    HRESULT GetDeviceData(DWORD itemSize, DIDEVICEOBJECTDATA* items, DWORD* count, DWORD flags) override {
        if (!count || itemSize != sizeof(DIDEVICEOBJECTDATA) || flags != 0) return DIERR_INVALIDPARAM;
        const DWORD room = *count;
        *count = 0;
        if (bufferSize_ == 0) return DIERR_NOTBUFFERED;
        backend_->pump(nowMs());
        if (!acquired_) return lost_ ? DIERR_INPUTLOST : DIERR_NOTACQUIRED;
        HRESULT result = backend_->fault(Call::GetDeviceData, &description_);
        if (FAILED(result)) return result;
        if (overflowed_) result = DI_BUFFEROVERFLOW;
        overflowed_ = false;
        DWORD taken = 0;
        while (taken < room && !buffer_.empty()) {
            if (items) items[taken] = buffer_.front();
            buffer_.pop_front();
            ++taken;
        }
        *count = taken;
        return result;
    }

    std::uint32_t Release() override {
        if (acquired_) Unacquire();
        auto& open = registry().open;
        open.erase(std::remove(open.begin(), open.end(), this), open.end());
        backend_->deviceClosed(description_);
        delete this;
        return 0;
    }

    // An item of this device arrived.
    void receive(const DIDEVICEOBJECTDATA& item, bool button) {
        // A device reports only the offsets its data format holds.
        if (!hasFormat_ || item.dwOfs >= format_.dwDataSize) return;
        // While lost, the releases stay (so no key is left down after the
        // re-acquire); presses and motion are dropped.
        if (lost_) {
            if (!button || (item.dwData & kButtonDown)) return;
        } else if (!acquired_) {
            return;
        }
        if (buffer_.size() >= bufferSize_) {
            // A full buffer loses the newest items.
            overflowed_ = true;
            return;
        }
        buffer_.push_back(item);
    }

    void focusChanged(bool focused) {
        if (focused || !acquired_ || !(cooperative_ & DISCL_FOREGROUND)) return;
        acquired_ = false;
        lost_ = true;
        backend_->acquisitionChanged(description_, cooperative_, false);
    }

private:
    std::shared_ptr<Backend> backend_;
    DeviceDescription description_;
    DWORD cooperative_ = DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;
    DIDATAFORMAT format_;
    bool hasFormat_ = false;
    DWORD bufferSize_ = 0;
    bool acquired_ = false;
    bool lost_ = false;
    bool overflowed_ = false;
    std::deque<DIDEVICEOBJECTDATA> buffer_;
};

class DirectInput final : public IDirectInput8A {
public:
    explicit DirectInput(Environment env) : env_(std::move(env)) {}

    HRESULT EnumDevices(DWORD devClass, LPDIENUMDEVICESCALLBACKA callback, void* ref, DWORD) override {
        if (!callback || devClass != DI8DEVCLASS_ALL) return DIERR_INVALIDPARAM;
        if (!env_.backend) return DI_OK;
        if (const HRESULT hr = env_.backend->fault(Call::EnumDevices, nullptr); hr != DI_OK) return hr;
        for (const DeviceDescription& device : env_.backend->attachedDevices()) {
            DIDEVICEINSTANCEA instance;
            instance.guidInstance = device.instance;
            instance.guidProduct = device.product;
            instance.dwDevType = device.type;
            std::strncpy(instance.tszInstanceName, device.instanceName.c_str(), sizeof(instance.tszInstanceName) - 1);
            std::strncpy(instance.tszProductName, device.productName.c_str(), sizeof(instance.tszProductName) - 1);
            if (callback(&instance, ref) == DIENUM_STOP) break;
        }
        return DI_OK;
    }

    HRESULT CreateDevice(const GUID& instance, IDirectInputDevice8A** device, void*) override {
        if (!device) return E_POINTER;
        *device = nullptr;
        if (!env_.backend) return DIERR_DEVICENOTREG;
        for (const DeviceDescription& description : env_.backend->attachedDevices()) {
            if (!(description.instance == instance)) continue;
            if (const HRESULT hr = env_.backend->fault(Call::CreateDevice, &description); hr != DI_OK) return hr;
            *device = new Device(env_.backend, description);
            return DI_OK;
        }
        return DIERR_DEVICENOTREG;
    }

    std::uint32_t Release() override {
        // Devices outlive the object that made them; a device still open
        // when the object goes is reported as a leak.
        if (env_.sink)
            for (const std::string& name : liveDevices())
                env_.sink(("DirectInput device not released: [" + name + "]").c_str());
        delete this;
        return 0;
    }

private:
    Environment env_;
};

}  // namespace

HRESULT DirectInput8Create(void*, DWORD version, const GUID& iid, void** out, void*) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (version < DIRECTINPUT_VERSION) return DIERR_OLDDIRECTINPUTVERSION;
    if (version > DIRECTINPUT_VERSION) return DIERR_BETADIRECTINPUTVERSION;
    if (!(iid == IID_IDirectInput8A)) return E_NOINTERFACE;
    const Environment& env = environment();
    if (env.backend)
        if (const HRESULT hr = env.backend->fault(Call::Create, nullptr); hr != DI_OK) return hr;
    *out = static_cast<IDirectInput8A*>(new DirectInput(env));
    return DI_OK;
}

void setEnvironment(Environment env) { currentEnvironment() = std::move(env); }

const Environment& environment() { return currentEnvironment(); }

DWORD nowMs() {
    if (const auto& clock = environment().clock) return clock();
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void sleepMs(DWORD ms) {
    if (const auto& sleeper = environment().sleeper) return sleeper(ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void post(const GUID& instance, DWORD offset, DWORD data, bool button) {
    Registry& r = registry();
    DIDEVICEOBJECTDATA item;
    item.dwOfs = offset;
    item.dwData = data;
    item.dwTimeStamp = nowMs();
    item.dwSequence = ++r.sequence;
    for (Device* device : r.open)
        if (device->description().instance == instance) device->receive(item, button);
}

void setFocus(bool focused) {
    Registry& r = registry();
    r.focused = focused;
    for (Device* device : r.open) device->focusChanged(focused);
}

bool hasFocus() { return registry().focused; }

void setCursorFollowsPointer(bool follows) {
    if (const std::shared_ptr<Backend>& backend = environment().backend) backend->cursorFollowsPointer(follows);
}

std::vector<std::string> liveDevices() {
    std::vector<std::string> names;
    for (const Device* device : registry().open) names.push_back(device->description().instanceName);
    return names;
}

}  // namespace platform::dinput8
