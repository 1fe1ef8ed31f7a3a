"""KVEL images as numpy arrays: files, resampling, filters, derivatives, edges, rigid transforms.

kvel.dask runs the neighbourhood and value operations block by block on Dask
arrays, with the results of the in-memory operations."""

import copyreg

from . import _kvel
from ._kvel import *  # noqa: F401,F403 (the compiled operations are the package's own names)
from ._kvel import Error, FileError, Image

# The compiled names report this package as their home, for help(kvel) and pickle.
for _name in dir(_kvel):
    if not _name.startswith("_"):
        try:
            getattr(_kvel, _name).__module__ = __name__
        except (AttributeError, TypeError):
            pass


def _rebuild_image(array, spacing, position, channels):
    return Image.from_array(array, spacing, position, channels=channels)


# An image travels to another process as its elements and geometry.
copyreg.pickle(Image, lambda image: (_rebuild_image, (image.array, image.spacing, image.position, image.channels)))
