// Which stand-in controls can be created: a class id becomes creatable once its
// library's DllRegisterServer has run and the control's code gave a factory.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <typeindex>
#include <utility>

namespace qelm {

// The class ids of the six control libraries (one control class each).
inline constexpr const char kClsidAuxPtz[] = "DadAROZar.AuxPtzCtrl";
inline constexpr const char kClsidRtspPull[] = "ZeraRaroVozero.RtspPullCtrl";
inline constexpr const char kClsidAviRecord[] = "AviRecord.AviRecordCtrl";
inline constexpr const char kClsidCameraSearch[] = "ZizevaVED.SearchCtrl";
inline constexpr const char kClsidPlayBack[] = "PlayBackCtrl.PlayBackCtrl";
inline constexpr const char kClsidStreamPlayer[] = "StreamPlayer.StreamPlayerCtrl";

// Factory of one control class, as its own code registers it.
void RegisterControlFactoryRaw(const std::string& clsid, std::type_index type, std::function<std::shared_ptr<void>()> make);

template <class T>
void RegisterControlFactory(const std::string& clsid, std::function<std::shared_ptr<T>()> make)
{
    RegisterControlFactoryRaw(clsid, std::type_index(typeid(T)),
                              [make = std::move(make)]() -> std::shared_ptr<void> { return make(); });
}

// Registers the factories of this folder's controls (start-up, before the
// libraries are registered).
void RegisterStandInFactories();

// Marks a class id registered (what a library's DllRegisterServer does).
void EnableControlClass(const std::string& clsid);
// Forgets every registration (tests).
void ResetControlClasses();
bool IsControlClassEnabled(const std::string& clsid);

std::shared_ptr<void> CreateControlRaw(const std::string& clsid, std::type_index type);

// A new control of that class id, or null when its library was not registered,
// no factory exists or the factory makes another type.
template <class T>
std::shared_ptr<T> CreateControl(const std::string& clsid)
{
    return std::static_pointer_cast<T>(CreateControlRaw(clsid, std::type_index(typeid(T))));
}

} // namespace qelm

// What a control library's DllRegisterServer looks up in the program (dlsym on
// the global scope): enables the class id; 0, or -1 for an empty id.
extern "C" int qelm2_EnableControlClass(const char* clsid);
