import pytest

from support import make_spectrum


@pytest.fixture
def spectrum():
    return make_spectrum()
