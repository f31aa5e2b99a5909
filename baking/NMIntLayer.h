// Sample-count layers: one 32-bit integer per pixel, flat or banded.
#pragma once

#include "baking/NMImageLayer.h"
#include "baking/NMLayerStorage.h"

class NMIntLayer final : public NMStoredLayer<NMAbstractIntLayer, NMFlatStorage> {};
class NMBandedIntLayer final : public NMStoredLayer<NMAbstractIntLayer, NMBandedStorage> {};
