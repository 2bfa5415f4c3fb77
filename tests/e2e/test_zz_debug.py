import time
from test_windows_vm import DoubleService, runtime, win  # noqa

def test_debug(win):
    svc = DoubleService(win, "vmdouble.Silent", install=True)
    try:
        t=time.monotonic(); r = svc.svc("start"); print("start", r, time.monotonic()-t)
        print(svc.status(), svc.record())
        t=time.monotonic(); r = svc.svc("control", 1); print("control", r, time.monotonic()-t)
        t=time.monotonic(); r = svc.svc("wait", "STOPPED", 20000); print("wait", r, time.monotonic()-t)
        print(svc.status(), svc.record())
        print(svc.trace_text()[-3000:])
    finally:
        svc.cleanup()
    assert False
