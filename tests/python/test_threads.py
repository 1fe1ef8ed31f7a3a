# Operations let go of the interpreter while they run, so Python threads
# calling KVEL work at the same time.
import os
import sys
import threading
import time

import numpy as np
import pytest

import kvel
from conftest import picture, same_bits


def test_thread_count_reaches_the_library():
    kvel.set_threads(1)
    assert kvel.threads() == 1
    kvel.set_threads(3)
    assert kvel.threads() == 3
    kvel.set_threads(0)
    assert kvel.threads() >= 1


def test_python_runs_while_an_operation_runs():
    # With switching by time out of the way, the other thread gets the
    # interpreter only when this one lets go of it: if an operation held it,
    # no timestamp could fall between that call's start and end.
    kvel.set_threads(1)
    image = kvel.Image.from_array(picture(512, 512))
    kernel = np.full((9, 9), 1 / 81, np.float32)
    calls, stamps, done = [], [], threading.Event()

    def other():
        while not done.is_set():
            stamps.append(time.perf_counter())
            time.sleep(0)  # lets go of the interpreter

    interval = sys.getswitchinterval()
    sys.setswitchinterval(60)
    try:
        thread = threading.Thread(target=other)
        thread.start()
        for _ in range(5):
            begin = time.perf_counter()
            kvel.filter(image, kernel)
            calls.append((begin, time.perf_counter()))
        done.set()
        thread.join()
    finally:
        sys.setswitchinterval(interval)
    assert sum(begin < t < end for begin, end in calls for t in stamps) > 0


def cpu_share(image, threads, seconds):
    """CPU time of the process over wall time while `threads` threads filter for `seconds`."""
    kernel = np.full((5, 5), 1 / 25, np.float32)
    start = threading.Barrier(threads)

    def work():
        start.wait()
        end = time.perf_counter() + seconds
        while time.perf_counter() < end:
            kvel.filter(image, kernel)

    workers = [threading.Thread(target=work) for _ in range(threads)]
    wall, cpu = time.perf_counter(), time.process_time()
    for t in workers:
        t.start()
    for t in workers:
        t.join()
    return (time.process_time() - cpu) / (time.perf_counter() - wall)


@pytest.mark.skipif((os.cpu_count() or 1) < 2, reason="needs two processors")
def test_two_threads_use_two_processors():
    # One library thread per call, so only the two Python threads can add up
    # to more CPU time than wall time.
    kvel.set_threads(1)
    image = kvel.Image.from_array(picture(1024, 1024))
    alone = cpu_share(image, 1, 0.2)
    if alone < 0.9:
        pytest.skip(f"the machine is busy: one thread got {alone:.2f} of a processor")
    shares = [cpu_share(image, 2, 0.3) for _ in range(2)]
    assert max(shares) > 1.2, shares


def test_threads_sharing_one_image_get_the_results_of_one_thread():
    image = kvel.Image.from_array(picture(300, 200))
    expected = [kvel.gradient(image).array, kvel.to_bytes(image).array, kvel.invert(image).array]
    results = {}

    def work(i):
        results[i] = [kvel.gradient(image).array, kvel.to_bytes(image).array, kvel.invert(image).array]

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(same_bits(a, b) for i in range(4) for a, b in zip(results[i], expected))
