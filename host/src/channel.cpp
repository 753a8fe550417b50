// The host's channel and message log objects.
#include "host/host.h"
#include "stats.h"

#include "platform/com.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace host {

namespace {

std::string quoted(const std::string& cp1251) {
    return "\"" + utf8(cp1251.c_str()) + "\"";
}

PropertyValue copyOf(const VARIANT& value) {
    PropertyValue copy;
    copy.vt = value.vt;
    switch (value.vt) {
    case VT_I4:
        copy.integer = value.lVal;
        break;
    case VT_UI4:
        copy.integer = value.ulVal;
        break;
    case VT_BOOL:
        copy.integer = value.boolVal;
        break;
    case VT_R4:
        copy.real = static_cast<double>(value.fltVal);
        break;
    case VT_R8:
        copy.real = value.dblVal;
        break;
    case VT_BSTR:
        if (value.bstrVal != nullptr)
            copy.text.assign(value.bstrVal, platform::SysStringLen(value.bstrVal));
        break;
    case VT_UNKNOWN:
        copy.identity = value.punkVal;
        break;
    default:
        break;
    }
    return copy;
}

} // namespace

HostChannel::HostChannel(Host& host, std::string name, std::string owner)
    : host_(&host), name_(std::move(name)), owner_(std::move(owner)),
      blockLength_(host.options().blockLength < 1 ? 1 : host.options().blockLength) {}

void HostChannel::record(const char* op, std::string args, std::string result) {
    if (host_ == nullptr || !host_->recording())
        return;
    Call call;
    call.module = owner_;
    call.op = op;
    call.args = quoted(name_) + (args.empty() ? "" : ", " + args);
    call.result = std::move(result);
    host_->record(std::move(call));
}

HRESULT RECAPI HostChannel::QueryInterface(REFIID iid, void** out) {
    const HRESULT hr = platform::queryInterface(this, iid, out, IID_IRecorderChannel);
    if (host_ != nullptr && host_->recording())
        record("channel.QueryInterface",
               iid == IID_IRecorderChannel ? "IID_IRecorderChannel"
               : iid == IID_IUnknown_      ? "IID_IUnknown"
                                           : "other",
               hr == S_OK ? "S_OK" : "E_NOINTERFACE");
    return hr;
}

ULONG RECAPI HostChannel::AddRef() {
    return refs_.fetch_add(1) + 1;
}

ULONG RECAPI HostChannel::Release() {
    const ULONG left = refs_.fetch_sub(1) - 1;
    if (left == 0)
        delete this;
    return left;
}

#define HOST_CHANNEL_RESERVED(n)                                                                   \
    HRESULT RECAPI HostChannel::reserved##n() {                                                    \
        record("channel.reserved" #n, {}, "E_NOTIMPL");                                            \
        return E_NOTIMPL;                                                                          \
    }
HOST_CHANNEL_RESERVED(3)
HOST_CHANNEL_RESERVED(4)
HOST_CHANNEL_RESERVED(9)
HOST_CHANNEL_RESERVED(12)
HOST_CHANNEL_RESERVED(13)
HOST_CHANNEL_RESERVED(14)
#undef HOST_CHANNEL_RESERVED

HRESULT RECAPI HostChannel::setname(const char* name) {
    const std::string wanted = name == nullptr ? std::string() : std::string(name);
    const bool fail = host_ != nullptr && host_->failing("channel.setname");
    record("channel.setname", quoted(wanted), fail ? "E_FAIL" : "S_OK");
    if (fail)
        return E_FAIL;
    if (wanted != name_) {
        name_ = wanted;
        if (host_ != nullptr && !removed_)
            host_->channelSetChanged();
    }
    return S_OK;
}

const char* RECAPI HostChannel::getname() {
    // A failing getname answers the empty name rather than null: callers keep
    // the pointer as text.
    const bool fail = host_ != nullptr && host_->failing("channel.getname");
    record("channel.getname", {}, fail ? "\"\"" : quoted(name_));
    return fail ? "" : name_.c_str();
}

HRESULT RECAPI HostChannel::setfrequency(double frequency) {
    const bool bad = !std::isfinite(frequency) || frequency <= 0;
    const bool fail = bad || (host_ != nullptr && host_->failing("channel.setfrequency"));
    if (host_ != nullptr && host_->recording()) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", frequency);
        record("channel.setfrequency", text, fail ? "E_FAIL" : "S_OK");
    }
    if (fail)
        return E_FAIL;
    if (frequency != frequency_) {
        frequency_ = frequency;
        if (host_ != nullptr && !removed_)
            host_->channelSetChanged();
    }
    return S_OK;
}

double RECAPI HostChannel::getfrequency() {
    const bool fail = host_ != nullptr && host_->failing("channel.getfrequency");
    if (host_ != nullptr && host_->recording()) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", fail ? 0.0 : frequency_);
        record("channel.getfrequency", {}, text);
    }
    return fail ? 0.0 : frequency_;
}

HRESULT RECAPI HostChannel::setproperty(std::uint32_t id, VARIANT value) {
    const bool fail = host_ != nullptr && host_->failing("channel.setproperty");
    if (host_ != nullptr && host_->recording())
        record("channel.setproperty", std::to_string(id) + ", " + describeVariant(value),
               fail ? "E_FAIL" : "S_OK");
    if (fail)
        return E_FAIL;
    // The value stays the caller's: it is copied, never freed here.
    PropertyValue copy = copyOf(value);
    if (id == CHANNEL_PROP_BLOCK_LENGTH && (value.vt == VT_I4 || value.vt == VT_UI4)) {
        if (copy.integer < 1 || copy.integer > 0x7FFFFFFF)
            return E_FAIL;
        blockLengthSet_ = true;
        if (static_cast<std::int32_t>(copy.integer) != blockLength_) {
            blockLength_ = static_cast<std::int32_t>(copy.integer);
            if (host_ != nullptr && !removed_)
                host_->channelSetChanged();
        }
        return S_OK;
    }
    properties_[id] = std::move(copy);
    return S_OK;
}

bool RECAPI HostChannel::getproperty(std::uint32_t id, VARIANT* value) {
    bool ok = false;
    const bool fail = host_ != nullptr && host_->failing("channel.getproperty");
    if (value != nullptr && !fail) {
        if (id == CHANNEL_PROP_BLOCK_LENGTH) {
            value->vt = VT_I4;
            value->lVal = blockLength_;
            ok = true;
        } else if (auto it = properties_.find(id); it != properties_.end()) {
            const PropertyValue& p = it->second;
            ok = true;
            switch (p.vt) {
            case VT_I4:
                value->lVal = static_cast<std::int32_t>(p.integer);
                break;
            case VT_UI4:
                value->ulVal = static_cast<std::uint32_t>(p.integer);
                break;
            case VT_BOOL:
                value->boolVal = static_cast<VARIANT_BOOL>(p.integer);
                break;
            case VT_R4:
                value->fltVal = static_cast<float>(p.real);
                break;
            case VT_R8:
                value->dblVal = p.real;
                break;
            case VT_BSTR: {
                BSTR text = platform::SysAllocStringLen(p.text.data(),
                                                        static_cast<std::uint32_t>(p.text.size()));
                ok = text != nullptr;
                if (ok)
                    value->bstrVal = text;
                break;
            }
            default:
                // Object references are not kept (see PropertyValue).
                ok = false;
                break;
            }
            if (ok)
                value->vt = p.vt;
        }
    }
    if (host_ != nullptr && host_->recording())
        record("channel.getproperty", std::to_string(id),
               ok ? "true, " + describeVariant(*value) : "false");
    return ok;
}

HRESULT RECAPI HostChannel::activate(std::int32_t how) {
    const bool fail = host_ != nullptr && host_->failing("channel.activate");
    record("channel.activate", std::to_string(how), fail ? "E_FAIL" : "S_OK");
    if (fail)
        return E_FAIL;
    active_ = true;
    return S_OK;
}

HRESULT RECAPI HostChannel::putdata(const float* block, std::int32_t count) {
    // A negative count hands over one whole block of the channel's block length.
    const std::int32_t n = count < 0 ? blockLength_ : count;
    const bool fail = block == nullptr || (host_ != nullptr && host_->failing("channel.putdata"));
    if (host_ != nullptr && host_->recording()) {
        std::string args = block == nullptr ? "null" : "block";
        args += ", " + std::to_string(count);
        if (block != nullptr && n > 0) {
            char text[64];
            std::snprintf(text, sizeof text, " [%d samples, first %.9g]", n,
                          static_cast<double>(block[0]));
            args += text;
        }
        record("channel.putdata", args, fail ? "E_FAIL" : "S_OK");
    }
    if (fail)
        return E_FAIL;
    if (n == 0)
        return S_OK;
    addToStats(stats_, block, n);
    stats_.samples += static_cast<std::uint64_t>(n);
    stats_.blocks += 1;
    stats_.last = block[n - 1];
    if (host_ != nullptr && host_->options().keepSamples)
        samples_.insert(samples_.end(), block, block + n);
    if (sink_)
        sink_(*this, block, n);
    if (host_ != nullptr && !removed_)
        host_->received(*this, block, n);
    return removed_ ? E_UNEXPECTED : S_OK;
}

std::optional<PropertyValue> HostChannel::property(std::uint32_t id) const {
    auto it = properties_.find(id);
    if (it == properties_.end())
        return std::nullopt;
    return it->second;
}

void HostChannel::clearData() {
    stats_ = {};
    samples_.clear();
}

// ---------------------------------------------------------------------------

HRESULT RECAPI HostLog::QueryInterface(REFIID iid, void** out) {
    return platform::queryInterface(this, iid, out, IID_IRecorderLog);
}

HRESULT RECAPI HostLog::addmessage(const OLECHAR* source, const OLECHAR* text, std::int32_t kind) {
    LogMessage message;
    if (source != nullptr)
        message.source = source;
    if (text != nullptr)
        message.text = text;
    message.kind = kind;
    message.module = module_ != nullptr ? module_->name() : std::string();
    const bool fail = host_.failing("log.addmessage");
    if (host_.recording()) {
        Call call;
        call.module = message.module;
        call.op = "log.addmessage";
        auto q = [](const OLECHAR* t) {
            return t == nullptr ? std::string("null")
                                : "\"" + QString::fromUtf16(t).toStdString() + "\"";
        };
        call.args = q(source) + ", " + q(text) + ", " + std::to_string(kind);
        call.result = fail ? "E_FAIL" : "S_OK";
        host_.record(std::move(call));
    }
    if (fail)
        return E_FAIL;
    host_.addMessage(std::move(message));
    return S_OK;
}

} // namespace host
