// Layers the runtime computes itself instead of OpenCV, so that a model gives
// the same bits on every architecture.
//
// OpenCV's fully connected layer (what Gemm and MatMul with constant weights
// become) sums its products in an order that depends on the CPU: vector lanes
// and their final reduction differ between x86-64 (SSE/AVX) and arm64 (NEON,
// with fused multiply-add). A small head such as the lux-smoothing Gemm then
// answers one unit in the last place apart on the two. The replacement sums in
// double precision, term by term in input order, and rounds once: the same
// result on every host, and at least as accurate.
//
// Convolutions, pooling and activations of the bundled models come out
// bit-identical on both architectures already (checked by the cross-
// architecture replay comparison), so they stay with OpenCV.
#ifndef QDNN_HOST_DETERMINISTIC_LAYERS_H
#define QDNN_HOST_DETERMINISTIC_LAYERS_H

namespace qdnn_host {

// Registers the replacements with OpenCV's layer factory, once per process.
// Layers built before the call (none in this runtime) keep OpenCV's code.
void registerDeterministicLayers();

}  // namespace qdnn_host

#endif  // QDNN_HOST_DETERMINISTIC_LAYERS_H
