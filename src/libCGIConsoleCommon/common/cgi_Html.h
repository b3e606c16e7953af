// The implementation object behind the exported CHtml... shells.
#pragma once
#include "cgi_CountedImpl.h"

namespace plm {

class CHtmlImpl : public CCountedImpl {};

}  // namespace plm
