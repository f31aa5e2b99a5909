#include "sources/HostThread.h"

#include "sources/Module.h"

HostThread::HostThread() { moduleApi()->threadCreate(this); }

HostThread::~HostThread() { moduleApi()->threadDestroy(this); }

bool HostThread::start() { return moduleApi()->threadStart(this) != 0; }

bool HostThread::isRunning() { return moduleApi()->threadIsRunning(this) != 0; }

void HostThread::end(bool wait) { moduleApi()->threadEnd(this, wait ? 1 : 0); }

void HostThread::wait() { moduleApi()->threadWait(this); }

bool HostThread::breakRequested() { return moduleApi()->threadTestBreak(this) != 0; }
