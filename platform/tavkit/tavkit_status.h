// Status codes of the image-operator library. 0 is success; every failure is a
// distinct negative value so that a caller's log line says what went wrong.
#ifndef TAVKIT_STATUS_H
#define TAVKIT_STATUS_H

enum TavkitStatus : int {
    kTavkitOk = 0,
    kTavkitErrNullArgument = -1,     // null handle pointer, configuration or parameter record
    kTavkitErrBadHandle = -2,        // handle not created by initTavkit, or already released
    kTavkitErrBadConfig = -3,        // configuration word out of range
    kTavkitErrUnknownOperator = -4,  // id the library does not implement
    kTavkitErrNotRegistered = -5,    // operator known but not registered on this context
    kTavkitErrNullPlane = -6,        // an image plane the operator needs is null
    kTavkitErrBadSize = -7,          // width/height zero, negative, absurd or not matching
    kTavkitErrBadStride = -8,        // stride shorter than a row, or plane/stride misaligned
    kTavkitErrUnsupported = -9,      // format, element type or their combination
    kTavkitErrBadParameter = -10,    // operator field (code, bounds, kernel, bins...) invalid
    kTavkitErrOverlap = -11,         // source and destination memory overlap
    kTavkitErrNoMemory = -12,        // a temporary could not be allocated
    kTavkitErrInternal = -13,        // the underlying conversion routine refused the call
};

#endif  // TAVKIT_STATUS_H
