"""KVEL's operations block by block on Dask arrays, for images larger than memory.

Each function takes a dask array laid out as kvel.Image.array shows an image
and returns a lazy dask array equal, element for element and bit for bit, to
the array of the in-memory kvel operation of the same name on the whole
array, whatever its chunks. A neighbourhood operation gives every block
exactly the overlap its kernel reads; at the array's own edges the blocks
meet the library's border rule as the whole image does. Chunks are merged
where a block would be thinner than that rule needs.

Blockwise: filter, gradient, gradient3d, hessian, downsample, window, invert,
to_bytes (the last two take the whole array's range first, as a Dask
reduction). Not blockwise: edges (its hysteresis follows connected edges
across the whole image), rigid, resample2d, rotate, pad2d, pad3d, colourmap.

from_file maps raw elements of MetaImage, uncompressed NIfTI and NRRD files
into memory chunk by chunk, reads a TIFF stack's pages and a DICOM series'
slices chunk by chunk, and any other file whole in one task; to_file writes a dask array chunk by chunk into a
MetaImage (.mhd + .raw) or an uncompressed .nii. Workers of a distributed
cluster must see the same files. For Zarr use Dask's own array.to_zarr.
"""

import functools
import os
import struct
import uuid

import dask
import dask.array as da
import numpy as np

from . import _kvel
from . import downsample as _downsample, filter as _filter, gradient as _gradient, hessian as _hessian
from . import invert as _invert, to_bytes as _to_bytes, window as _window

__all__ = ["from_file", "to_file", "filter", "gradient", "gradient3d", "hessian", "downsample", "window",
           "invert", "to_bytes"]


# Layout ---------------------------------------------------------------------

def _has_channel_axis(shape):
    """Whether kvel reads the array's last axis as channels (see Image.from_array)."""
    return len(shape) == 5 or (len(shape) in (3, 4) and shape[-1] <= 4)


def _spatial_axes(array):
    return array.ndim - (1 if _has_channel_axis(array.shape) else 0)


def _merged(chunks, minimum):
    """Chunks along one axis, neighbours merged until each holds at least minimum (or the whole axis)."""
    merged = []
    for chunk in chunks:
        if merged and merged[-1] < minimum:
            merged[-1] += chunk
        else:
            merged.append(chunk)
    if len(merged) > 1 and merged[-1] < minimum:
        last = merged.pop()
        merged[-1] += last
    return tuple(merged)


def _prepared(array, minimum):
    """The array rechunked so that each axis's blocks are at least minimum[axis] thick, and a
    channel axis is one block: every block is then read by kvel with the whole array's axes."""
    array = da.asarray(array)
    minimum = dict(minimum)
    if _has_channel_axis(array.shape):
        minimum[array.ndim - 1] = array.shape[-1]
    elif array.ndim in (3, 4):
        # A last axis of at most 4 elements would be taken for channels.
        minimum[array.ndim - 1] = max(minimum.get(array.ndim - 1, 1), 5)
    chunks = tuple(_merged(c, minimum.get(axis, 1)) for axis, c in enumerate(array.chunks))
    return array.rechunk(chunks) if chunks != array.chunks else array


def _elements(image, shape):
    """An Image's elements in the shape of its block (kvel drops axes of extent 1)."""
    return image.array.reshape(shape)


# Neighbourhood operations -----------------------------------------------------

def _cropped(op, depth, channels_out, block, block_info=None):
    info = block_info[0]
    location, counts = info["chunk-location"], info["num-chunks"]
    result = op(block)
    shape = block.shape + ((channels_out,) if channels_out > 1 else ())
    values = _elements(result, shape)
    keep = []
    for axis, size in enumerate(block.shape):
        d = depth.get(axis, 0)
        low = d if location[axis] > 0 else 0
        high = d if location[axis] < counts[axis] - 1 else 0
        keep.append(slice(low, size - high))
    return values[tuple(keep)]


def _neighbourhood(array, op, depth, channels_out, dtype, name):
    """op on blocks that carry depth[axis] neighbours on each inner side; cropped back after."""
    array = da.asarray(array)
    if array.ndim not in (2, 3) or _has_channel_axis(array.shape):
        raise ValueError(f"kvel.dask.{name} takes a 2-D or 3-D array without channels, not shape {array.shape}")
    # Twice the depth and one: a block at an edge then holds the voxels the library's border rule copies from.
    array = _prepared(array, {axis: 2 * d + 1 for axis, d in depth.items()})
    extended = da.overlap.overlap(array, depth={axis: depth.get(axis, 0) for axis in range(array.ndim)},
                                  boundary="none")
    chunks = array.chunks + (((channels_out,),) if channels_out > 1 else ())
    return extended.map_blocks(functools.partial(_cropped, op, depth, channels_out), dtype=dtype, chunks=chunks,
                               new_axis=[array.ndim] if channels_out > 1 else None,
                               meta=np.empty((0,) * len(chunks), dtype))


def _plane_depth(array, radius):
    return {array.ndim - 2: radius, array.ndim - 1: radius}


def filter(array, kernel):
    """kvel.filter of every slice with the k x k kernel, as float32."""
    kernel = np.array(kernel, dtype=np.float32)
    if kernel.ndim != 2 or kernel.shape[0] != kernel.shape[1] or kernel.shape[0] % 2 == 0:
        raise ValueError("the kernel must be k x k numbers with k odd")
    op = functools.partial(_filter, kernel=kernel)
    return _neighbourhood(array, op, _plane_depth(da.asarray(array), kernel.shape[0] // 2), 1, np.float32, "filter")


def gradient(array):
    """kvel.gradient: a 2-D array's 2-channel gradient, a volume's 3-channel one, as float32."""
    array = da.asarray(array)
    if array.ndim == 3 and array.shape[0] > 1:
        return gradient3d(array)
    return _neighbourhood(array, _gradient, _plane_depth(array, 1), 2, np.float32, "gradient")


def gradient3d(array):
    """kvel.gradient of a volume (more than one slice): three channels, as float32."""
    array = da.asarray(array)
    if array.ndim != 3 or array.shape[0] < 2:
        raise ValueError(f"kvel.dask.gradient3d takes a volume of two or more slices, not shape {array.shape}")
    return _neighbourhood(array, _gradient, {0: 1, 1: 1, 2: 1}, 3, np.float32, "gradient3d")


def hessian(array):
    """kvel.hessian of every slice: xx, xy, yy as three float32 channels."""
    array = da.asarray(array)
    return _neighbourhood(array, _hessian, _plane_depth(array, 2), 3, np.float32, "hessian")


# Block-aligned and value operations -------------------------------------------

def _aligned(chunks, factor, size):
    """Chunk boundaries moved down to multiples of factor; the remainder the library drops stays
    with the last block, so that no block is thinner than the factor."""
    bounds = sorted({factor * (b // factor) for b in np.cumsum(chunks)[:-1]} - {0, factor * (size // factor)})
    edges = [0] + [b for b in bounds if b < size] + [size]
    return tuple(int(b - a) for a, b in zip(edges, edges[1:]))


def downsample(array, fx, fy, fz=1, ft=1):
    """kvel.downsample: the mean of fx x fy x fz x ft blocks, in the array's element type."""
    array = da.asarray(array)
    spatial = _spatial_axes(array)
    if spatial < 2:
        raise ValueError(f"an image array has 2 to 5 axes, not shape {array.shape}")
    named = {"fx": fx, "fy": fy, "fz": fz, "ft": ft}
    factors = [fx, fy, fz, ft][:spatial][::-1] + [1] * (array.ndim - spatial)
    extents = list(array.shape[:spatial][::-1]) + [1] * (4 - spatial)
    for (label, factor), extent in zip(named.items(), extents):
        if not 1 <= factor <= extent:
            raise ValueError(f"{label} must be from 1 to {extent}, not {factor}")
    array = _prepared(array, {})
    chunks = tuple(_aligned(c, f, n) if f > 1 else c for c, f, n in zip(array.chunks, factors, array.shape))
    array = array.rechunk(chunks)
    out_chunks = tuple(tuple(c // f for c in cs) for cs, f in zip(chunks, factors))

    def run(block):
        image = _kvel.Image.from_array(block, channels=array.shape[-1] if spatial < array.ndim else 1)
        kx, ky, kz, kt = ([fx, fy, fz, ft][:spatial] + [1] * 4)[:4]
        return _elements(_downsample(image, kx, ky, kz, kt), tuple(n // f for n, f in zip(block.shape, factors)))

    return array.map_blocks(run, dtype=array.dtype, chunks=out_chunks, meta=np.empty((0,) * array.ndim, array.dtype))


def window(array, low, high):
    """kvel.window: values clamped to [low, high], minus low."""
    if not (np.isfinite(low) and np.isfinite(high) and low < high):
        raise ValueError("low and high must be finite with low below high")
    array = _prepared(array, {})
    return array.map_blocks(functools.partial(_windowed, low, high), dtype=array.dtype)


def _windowed(low, high, block):
    return _elements(_window(block, low, high), block.shape)


def _zero_key(block, block_info=None):
    """2 x (C-order index in the whole array) + sign bit of the block's first zero; int64 max if none."""
    zeros = np.flatnonzero(block == 0)
    key = np.iinfo(np.int64).max
    if zeros.size:
        local = np.unravel_index(zeros[0], block.shape)
        start = [a for a, _ in block_info[0]["array-location"]]
        index = np.ravel_multi_index(tuple(s + i for s, i in zip(start, local)), block_info[0]["shape"])
        key = 2 * int(index) + int(np.signbit(block.flat[zeros[0]]))
    return np.full((1,) * block.ndim, key, np.int64)


def _range_of(first, low, high, zero_key):
    """The library's range: a leading not-a-number stays; otherwise the smallest and largest
    number, and of the two zeros the first in the image's order."""
    first, low, high = first[()], low[()], high[()]
    if first != first:
        return np.array([first, first])
    extremes = np.array([low, high], dtype=first.dtype)
    if np.issubdtype(first.dtype, np.floating) and zero_key[()] != np.iinfo(np.int64).max:
        zero = -0.0 if int(zero_key[()]) & 1 else 0.0
        extremes[extremes == 0] = zero
    return extremes


def _value_range(array):
    """A 2-element dask array: the (low, high) range kvel takes for invert and to_bytes."""
    array = da.asarray(array)
    floating = np.issubdtype(array.dtype, np.floating)
    low = da.nanmin(array) if floating else array.min()
    high = da.nanmax(array) if floating else array.max()
    if floating:
        keys = array.map_blocks(_zero_key, dtype=np.int64, chunks=tuple((1,) * len(c) for c in array.chunks))
        key = keys.min()
    else:
        key = da.from_array(np.int64(np.iinfo(np.int64).max))
    first = array[(0,) * array.ndim]
    return da.blockwise(_range_of, "r", first, "", low, "", high, "", key, "", new_axes={"r": 2},
                        dtype=array.dtype, meta=np.empty((0,), array.dtype))


def _with_range(op, channels, block, low, high):
    """op on the block's pixels as one column led by the whole array's low and high, so that the
    library takes that range as its own; the column's values back in the block's shape."""
    pixels = block.reshape(-1, 1, channels)
    column = np.empty((pixels.shape[0] + 2, 1, channels), block.dtype)
    column[0], column[1], column[2:] = low, high, pixels
    result = op(_kvel.Image.from_array(column, channels=channels))
    return result.array.reshape(-1, channels)[2:].reshape(block.shape)


def _ranged(array, op, dtype):
    array = _prepared(array, {})
    channels = array.shape[-1] if _has_channel_axis(array.shape) else 1
    extremes = _value_range(array)
    return da.map_blocks(functools.partial(_with_range, op, channels), array, extremes[0], extremes[1],
                         dtype=dtype, chunks=array.chunks, meta=np.empty((0,) * array.ndim, dtype))


def invert(array):
    """kvel.invert: every value mirrored within the whole array's range."""
    return _ranged(array, _invert, da.asarray(array).dtype)


def to_bytes(array):
    """kvel.to_bytes: the first frame mapped through the whole array's range onto uint8."""
    array = _prepared(array, {})
    result = _ranged(array, _to_bytes, np.uint8)
    return result[0] if _spatial_axes(array) == 4 else result


# Files ------------------------------------------------------------------------

class _RawElements:
    """Elements lying raw in a file, mapped into memory only by the task that reads a region."""

    def __init__(self, path, dtype, shape, offset):
        self.path, self.dtype, self.shape, self.offset = path, np.dtype(dtype), tuple(shape), offset
        self.ndim = len(self.shape)

    def _map(self, mode):
        return np.memmap(self.path, dtype=self.dtype, mode=mode, offset=self.offset, shape=self.shape)

    def __getitem__(self, region):
        return self._map("r")[region].astype(self.dtype.newbyteorder("="), order="C")

    def __setitem__(self, region, values):
        elements = self._map("r+")
        elements[region] = values
        elements.flush()


def _read_whole(path, series):
    return _kvel.read(path, series=series).array


def _read_slices(path, series, start, stop, shape):
    """Slices start to stop - 1 in the shape of their block (kvel drops an axis of one slice)."""
    return _kvel.read(path, series=series, slices=slice(start, stop)).array.reshape(shape)


def from_file(path, chunks="auto", series=""):
    """The image in the file (or DICOM folder) as a lazy dask array; its header (kvel.read_header)
    as array.header.

    Raw elements (MetaImage, uncompressed NIfTI and NRRD) are mapped chunk by chunk; a TIFF stack's
    pages and a DICOM series' slices are decoded by one task per block of slices, which the chunks
    of that block share; any other file (compressed, or a single picture) is read whole by the one
    task every chunk depends on. series picks a DICOM folder's series as for kvel.read."""
    path = os.fspath(path)
    header = _kvel.read_header(path, series=series)
    shape, dtype = header["shape"], header["dtype"]
    if header["data_file"] is not None:
        stored = dtype.newbyteorder(header["byte_order"])
        source = _RawElements(header["data_file"], stored, shape, header["offset"])
        array = da.from_array(source, chunks=chunks, meta=np.empty((0,) * len(shape), dtype))
    elif header["format"] in ("TIFF", "DICOM") and len(header["spacing"]) == 3:
        # Slices lead the array (no frames): each block of them is read alone.
        chunks = da.core.normalize_chunks(chunks, shape, dtype=dtype)
        starts = np.cumsum((0,) + chunks[0])
        slabs = [da.from_delayed(dask.delayed(_read_slices)(path, series, int(a), int(b), (int(b - a),) + shape[1:]),
                                 shape=(int(b - a),) + shape[1:], dtype=dtype) for a, b in zip(starts, starts[1:])]
        array = da.concatenate(slabs, axis=0).rechunk(chunks)
    else:
        whole = da.from_delayed(dask.delayed(_read_whole)(path, series), shape=shape, dtype=dtype)
        array = whole.rechunk(da.core.normalize_chunks(chunks, shape, dtype=dtype))
    array.header = header
    return array


def _temporary(path):
    folder, name = os.path.split(os.path.abspath(path))
    return os.path.join(folder, f".{name}.{os.getpid()}-{uuid.uuid4().hex}.tmp")


def _library_header(array, suffix, data_name, spacing, position):
    """The header the library writes for the array's type, axes and geometry, and the byte order
    it gives the elements: that of a small image of the same axes written by kvel.write, with the
    real extents (and for MetaImage the data file's name) put in."""
    channels = array.shape[-1] if _has_channel_axis(array.shape) else 1
    spatial = array.shape[: _spatial_axes(array)]
    small = tuple(min(n, 2) for n in spatial) + ((channels,) if channels > 1 else ())
    image = _kvel.Image.from_array(np.zeros(small, array.dtype), channels=channels)
    folder = _temporary(suffix)
    os.mkdir(folder)
    try:
        name = os.path.join(folder, "small" + suffix)
        _kvel.write(name, image, spacing=spacing, position=position)
        with open(name, "rb") as f:
            written = f.read()
    finally:
        for entry in os.listdir(folder):
            os.remove(os.path.join(folder, entry))
        os.rmdir(folder)
    extents = list(spatial[::-1])
    if suffix == ".mhd":
        lines = written.decode().splitlines()
        # As many extents as the library names (it leaves out trailing axes of one element).
        named = next(len(line.split("=")[1].split()) for line in lines if line.startswith("DimSize"))
        replaced = {"DimSize": " ".join(map(str, extents[:named])), "ElementDataFile": data_name}
        lines = [f"{line.split(' =')[0]} = {replaced[line.split(' =')[0]]}" if line.split(" =")[0] in replaced
                 else line for line in lines]
        # The library writes MetaImage elements little-endian.
        return ("\n".join(lines) + "\n").encode(), "<"
    # NIfTI-1: dim[1..] as 16-bit numbers after dim[0], the elements from vox_offset on.
    if max(extents) > 32767:
        raise ValueError("a .nii written chunk by chunk holds extents of up to 32767")
    order = "<" if struct.unpack_from("<i", written, 0)[0] == 348 else ">"
    header = bytearray(written[: int(struct.unpack_from(order + "f", written, 108)[0])])
    struct.pack_into(order + f"{len(extents)}h", header, 42, *extents)
    return bytes(header), order


def _write_new(path, data):
    with open(path, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())


def to_file(array, path, spacing=None, position=None):
    """Writes the array chunk by chunk into a MetaImage (NAME.mhd + NAME.raw) or an uncompressed
    .nii, with the header kvel.write gives, each chunk through a memory map of the file. Nothing
    appears under the name until every chunk is written; a failure leaves any previous file as
    it was. Workers must see the file's folder."""
    array = da.asarray(array)
    path = os.fspath(path)
    suffix = os.path.splitext(path)[1].lower()
    if suffix not in (".mhd", ".nii"):
        raise ValueError(f"kvel.dask.to_file writes .mhd (with its .raw) or .nii, not {path}")
    if suffix == ".nii":
        data_path, header_path = path, None
        prefix, order = _library_header(array, suffix, None, spacing, position)
    else:
        data_path, header_path = path[:-4] + ".raw", path
        header, order = _library_header(array, suffix, os.path.basename(data_path), spacing, position)
        prefix = b""
    stored = array.dtype.newbyteorder(order)
    temporary = _temporary(data_path)
    try:
        with open(temporary, "wb") as f:
            f.write(prefix)
            f.truncate(len(prefix) + array.size * array.dtype.itemsize)
        da.store(array.astype(stored), _RawElements(temporary, stored, array.shape, len(prefix)), lock=False)
        with open(temporary, "rb+") as f:
            os.fsync(f.fileno())
        if header_path is None:
            os.replace(temporary, data_path)
            return
        header_temporary = _temporary(header_path)
        try:
            _write_new(header_temporary, header)
            # The data first: a header never names data that were not written.
            os.replace(temporary, data_path)
            os.replace(header_temporary, header_path)
        finally:
            if os.path.exists(header_temporary):
                os.remove(header_temporary)
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)
