// The dialog for assistive technology: each control of accessible_names.h
// answers a screen reader's question for its name (WM_GETOBJECT) with the
// name of the table, and the status field, a live region, raises its
// value-change and live-region events when a new status line is to be heard.
//
// The names cannot come from the template: the dialog manager names a
// control by the static text before it, which the template's order gives
// the status field ("Base") and no CL button. So a named control's standard
// accessible object is wrapped in one that answers get_accName itself and
// hands every other question to the standard object. oleacc, oleaut32 and
// ole32 are loaded when the dialog opens, so torvane.exe imports nothing
// new, and a Windows without them shows the dialog unnamed.
#include "win32_window.h"

#include "../accessible_names.h"
#include "../history.h"

#include <commctrl.h>
#include <oleacc.h>

#include <cstring>
#include <string>

namespace {

using create_std_accessible_object = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
using lresult_from_object = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);
using sys_alloc_string = BSTR(WINAPI*)(const OLECHAR*);
using co_initialize_ex = HRESULT(WINAPI*)(void*, DWORD);
using co_create_instance = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, void**);

// The status field is a polite live region: Narrator and NVDA speak its new
// text when it raises EVENT_OBJECT_LIVEREGIONCHANGED (Windows 8 and later).
constexpr GUID accprop_services_class = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr GUID accprop_services_interface = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr GUID live_setting_property = {0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG live_setting_polite = 1;
constexpr DWORD live_region_changed = 0x8019;  // EVENT_OBJECT_LIVEREGIONCHANGED

struct accessibility_api {
    create_std_accessible_object create_standard = nullptr;
    lresult_from_object to_lresult = nullptr;
    sys_alloc_string alloc_string = nullptr;
    bool loaded() const { return create_standard != nullptr && to_lresult != nullptr && alloc_string != nullptr; }
};

template <class Function>
Function function_of(const char* library, const char* name)
{
    const HMODULE module = LoadLibraryA(library);
    return module == nullptr ? nullptr : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const accessibility_api& api()
{
    static const accessibility_api loaded = [] {
        accessibility_api a;
        a.create_standard = function_of<create_std_accessible_object>("oleacc.dll", "CreateStdAccessibleObject");
        a.to_lresult = function_of<lresult_from_object>("oleacc.dll", "LresultFromObject");
        a.alloc_string = function_of<sys_alloc_string>("oleaut32.dll", "SysAllocString");
        return a;
    }();
    return loaded;
}

bool is_self(const VARIANT& child)
{
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// A control's standard accessible object with the name of the table.
class named_accessible final : public IAccessible {
public:
    named_accessible(IAccessible* standard, const char* name) : standard_(standard), name_(name, name + std::strlen(name)) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        return standard_->QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return standard_->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override
    {
        return standard_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override
    {
        return standard_->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* wrong) override
    {
        return standard_->Invoke(id, iid, locale, flags, parameters, result, exception, wrong);
    }

    // IAccessible: the name of the control itself is the table's.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        if (!is_self(child))
            return standard_->get_accName(child, name);
        if (name == nullptr)
            return E_POINTER;
        *name = api().alloc_string(name_.c_str());
        return *name == nullptr ? E_OUTOFMEMORY : S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard_->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override { return standard_->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override
    {
        return standard_->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        return standard_->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override
    {
        return standard_->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        return standard_->get_accRole(child, role);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        return standard_->get_accState(child, state);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override { return standard_->get_accHelp(child, help); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override
    {
        return standard_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override
    {
        return standard_->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return standard_->get_accFocus(child); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override
    {
        return standard_->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        return standard_->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override { return standard_->accSelect(flags, child); }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override
    {
        return standard_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override
    {
        return standard_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG left, LONG top, VARIANT* child) override
    {
        return standard_->accHitTest(left, top, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        return standard_->accDoDefaultAction(child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override
    {
        return standard_->put_accValue(child, value);
    }

private:
    ~named_accessible() { standard_->Release(); }

    LONG references_ = 1;
    IAccessible* standard_;
    std::wstring name_;
};

constexpr UINT_PTR named_control_id = 0x6e616d65;

// WM_GETOBJECT for the control's own (client) object: the named one.
LRESULT CALLBACK named_control(HWND control, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR name)
{
    if (message == WM_GETOBJECT && static_cast<DWORD>(lparam) == static_cast<DWORD>(OBJID_CLIENT)) {
        void* standard = nullptr;
        if (SUCCEEDED(api().create_standard(control, OBJID_CLIENT, __uuidof(IAccessible), &standard))) {
            auto* named = new named_accessible(static_cast<IAccessible*>(standard), reinterpret_cast<const char*>(name));
            const LRESULT result = api().to_lresult(__uuidof(IAccessible), wparam, named);
            named->Release();
            return result;
        }
    }
    return DefSubclassProc(control, message, wparam, lparam);
}

}  // namespace

void win32_window::name_controls()
{
    if (!api().loaded())
        return;
    // The accessible objects are handed out through COM on the dialog's
    // thread.
    if (const auto initialise = function_of<co_initialize_ex>("ole32.dll", "CoInitializeEx"))
        initialise(nullptr, COINIT_APARTMENTTHREADED);
    for (const accessible_name& n : accessible_names)
        if (HWND control = GetDlgItem(dialog_, n.id))
            SetWindowSubclass(control, named_control, named_control_id, reinterpret_cast<DWORD_PTR>(n.name));
    // The history's list: Windows would name a list box by nothing (its
    // label stands above it, not before it in a line), so it is named as
    // the Qt window names it.
    if (HWND list = GetDlgItem(dialog_, IDC_HISTORY_LIST))
        SetWindowSubclass(list, named_control, named_control_id, reinterpret_cast<DWORD_PTR>(history_list_name));
    const auto create = function_of<co_create_instance>("ole32.dll", "CoCreateInstance");
    IAccPropServices* properties = nullptr;
    if (create != nullptr
        && SUCCEEDED(create(accprop_services_class, nullptr, CLSCTX_INPROC_SERVER, accprop_services_interface,
                            reinterpret_cast<void**>(&properties)))) {
        VARIANT polite;
        polite.vt = VT_I4;
        polite.lVal = live_setting_polite;
        properties->SetHwndProp(GetDlgItem(dialog_, IDC_STATUS), static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                live_setting_property, polite);
        properties->Release();
    }
}

void win32_window::announce_status(const char* text)
{
    if (!announcer_.should_announce(text, status_announcer::clock::now()))
        return;
    HWND status = GetDlgItem(dialog_, IDC_STATUS);
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, status, OBJID_CLIENT, CHILDID_SELF);
    NotifyWinEvent(live_region_changed, status, OBJID_CLIENT, CHILDID_SELF);
}
