// Which compiler wrote a program's forms, where the form format leaves it
// open: Delphi and C++Builder link the resources DVCLAL and PACKAGEINFO into
// every program, and Free Pascal writes its version ("FPC 3.2.2 [2021/05/16]
// for i386 - Win32") into every program's data.
#pragma once

#include "image/resource_format.h"
#include "pe/pe_headers.h"

#include <vector>

FormDialect DetectFormDialect(const PeHeaders& headers, const std::vector<ResourceEntry>& entries);
// The same for an image whose entries have not been read. Unknown for an
// image without forms, which is not searched.
FormDialect DetectFormDialect(const PeHeaders& headers);
