"""KVEL images as numpy arrays: files, resampling, filters, derivatives, edges, rigid transforms.

kvel.dask runs the neighbourhood and value operations block by block on Dask
arrays, with the results of the in-memory operations."""

import copyreg
import functools

from . import _kvel
from ._kvel import Error, FileError, Image


def _exported(function):
    # A Python function of this package stands for each compiled one, so that
    # pickle finds it by name (a worker process calls the same operation).
    @functools.wraps(function)
    def call(*args, **kwargs):
        return function(*args, **kwargs)

    call.__module__, call.__qualname__ = __name__, function.__name__
    return call


for _name in dir(_kvel):
    if not _name.startswith("_") and callable(getattr(_kvel, _name)) and not isinstance(getattr(_kvel, _name), type):
        globals()[_name] = _exported(getattr(_kvel, _name))
Image.__module__ = __name__
del _name


def _rebuild_image(array, spacing, position, channels, direction):
    return Image.from_array(array, spacing, position, channels=channels, direction=direction)


# An image travels to another process as its elements and geometry.
copyreg.pickle(Image, lambda image: (_rebuild_image, (image.array, image.spacing, image.position, image.channels,
                                                     image.direction)))
