"""python_metadata.py OUT: writes the metadata of the Python package whose
pyproject.toml is in the current folder (NAME-VERSION.dist-info) into OUT,
through the build backend's own hook, as pip does before it builds a wheel.
Quiet unless it fails."""
import contextlib
import io
import sys
import warnings

from setuptools import build_meta

log = io.StringIO()
try:
    with contextlib.redirect_stdout(log), contextlib.redirect_stderr(log), warnings.catch_warnings():
        warnings.simplefilter("ignore")  # setuptools' notes on its own pyproject.toml support
        build_meta.prepare_metadata_for_build_wheel(sys.argv[1])
except BaseException:
    sys.stderr.write(log.getvalue())
    raise
