// The COM edge: what a failure becomes for an automation client. Exceptions
// never cross it; out of memory is the platform's own E_OUTOFMEMORY, any
// other failure MAKE_HRESULT(1, FACILITY_CONTROL, n) with error info set, so
// that scripts see Err.Number = n.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "palavox_idl.h"  // IID__PalavoxClass
#include "palavox/error.hpp"
#include "palavox_identity.h"  // PALAVOX_PROGID

namespace palavox::com {

inline HRESULT ReportFailure(const Failure& failure) noexcept {
    if (failure.number == kOutOfMemory) {
        SetErrorInfo(0, nullptr);  // no stale description for this failure
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL,
                                    static_cast<unsigned>(failure.number) & 0xFFFFu);
    ICreateErrorInfo* create = nullptr;
    // branch-untaken: CreateErrorInfo fails only without memory
    if (FAILED(CreateErrorInfo(&create))) return hr;
    wchar_t text[256] = {};
    MultiByteToWideChar(CP_UTF8, 0, failure.description, -1, text, 255);
    create->SetGUID(IID__PalavoxClass);
    create->SetSource(const_cast<LPOLESTR>(L"" PALAVOX_PROGID));
    create->SetDescription(text);
    IErrorInfo* info = nullptr;
    // branch-untaken: an error info object always is one
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
    return hr;
}

template <class Body>
HRESULT Guarded(Body&& body) noexcept {
    return palavox::Guarded(
        [&] {
            body();
            return S_OK;
        },
        ReportFailure);
}

}  // namespace palavox::com
