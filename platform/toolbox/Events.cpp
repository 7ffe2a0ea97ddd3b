// Event targets, handler chains and event parameters.
#include "ToolboxPrivate.h"

#include <algorithm>
#include <cstring>

namespace tbx {

bool Wants(const std::vector<EventTypeSpec>& types, const OpaqueEventRef* e) {
    for (const auto& t : types)
        if (t.eventClass == e->eventClass && t.eventKind == e->kind) return true;
    return false;
}

// A handler that does not handle the event passes it on to the next one.
OSStatus RunChain(OpaqueEventHandlerCallRef& call, EventRef e) {
    OSStatus status = eventNotHandledErr;
    while (status == eventNotHandledErr && call.next < call.chain.size()) {
        auto [proc, user] = call.chain[call.next++];
        status = proc(&call, e, user);
    }
    return status;
}

OSStatus Dispatch(OpaqueEventTargetRef* target, const OpaqueToolboxObjectClassRef* cls, EventRef e) {
    OpaqueEventHandlerCallRef call;
    call.next = 0;
    for (auto it = target->handlers.rbegin(); it != target->handlers.rend(); ++it)
        if (Wants((*it)->types, e)) call.chain.emplace_back((*it)->proc, (*it)->userData);
    if (cls && cls->registered && Wants(cls->types, e)) call.chain.emplace_back(cls->proc, cls->userData);
    return RunChain(call, e);
}

OpaqueEventRef ControlEvent(uint32_t kind, ControlRef c) {
    OpaqueEventRef e{kEventClassControl, kind, {}};
    SetEventParameter(&e, kEventParamDirectObject, typeControlRef, sizeof c, &c);
    return e;
}
}  // namespace tbx

using namespace tbx;

// --- Events -------------------------------------------------------------------------------------

EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr proc) { return proc; }
void DisposeEventHandlerUPP(EventHandlerUPP) {}
EventTargetRef GetWindowEventTarget(WindowRef window) { return window ? &window->target : nullptr; }
EventTargetRef GetControlEventTarget(ControlRef control) { return control ? &control->target : nullptr; }

OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, uint32_t numTypes,
                             const EventTypeSpec* list, void* userData, EventHandlerRef* outRef) {
    if (!target || !handler) return paramErr;
    auto* h = new OpaqueEventHandlerRef{target, handler, std::vector<EventTypeSpec>(list, list + numTypes), userData};
    target->handlers.push_back(h);
    if (outRef) *outRef = h;
    return noErr;
}

OSStatus RemoveEventHandler(EventHandlerRef handler) {
    if (!handler) return paramErr;
    auto& hs = handler->target->handlers;
    for (auto it = hs.begin(); it != hs.end(); ++it)
        if (*it == handler) {
            hs.erase(it);
            delete handler;
            return noErr;
        }
    return paramErr;
}

OSStatus CallNextEventHandler(EventHandlerCallRef inCallRef, EventRef inEvent) {
    return inCallRef ? RunChain(*inCallRef, inEvent) : eventNotHandledErr;
}

OSType GetEventClass(EventRef event) { return event ? event->eventClass : 0; }
uint32_t GetEventKind(EventRef event) { return event ? event->kind : 0; }

OSStatus GetEventParameter(EventRef event, OSType inName, OSType inDesiredType, OSType* outActualType,
                           uint32_t inBufferSize, uint32_t* outActualSize, void* outData) {
    if (!event) return paramErr;
    auto it = event->params.find(inName);
    if (it == event->params.end()) return eventParameterNotFoundErr;
    if (inDesiredType != typeWildCard && inDesiredType != it->second.type) return eventParameterNotFoundErr;
    const auto& data = it->second.data;
    if (outActualType) *outActualType = it->second.type;
    if (outActualSize) *outActualSize = uint32_t(data.size());
    if (outData) std::memcpy(outData, data.data(), std::min<size_t>(inBufferSize, data.size()));
    return noErr;
}

OSStatus SetEventParameter(EventRef event, OSType inName, OSType inType, uint32_t inSize, const void* inData) {
    if (!event || (!inData && inSize)) return paramErr;
    const auto* p = static_cast<const uint8_t*>(inData);
    event->params[inName] = OpaqueEventRef::Param{inType, std::vector<uint8_t>(p, p + inSize)};
    return noErr;
}

OSStatus SendCommandToWindow(WindowRef window, uint32_t commandID) {
    if (!window) return paramErr;
    OpaqueEventRef e{kEventClassCommand, kEventCommandProcess, {}};
    HICommand cmd{0, commandID, {nullptr, 0}};
    SetEventParameter(&e, kEventParamDirectObject, typeHICommand, sizeof cmd, &cmd);
    return Dispatch(&window->target, nullptr, &e);
}
